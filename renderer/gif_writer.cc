#include "renderer/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace vormel {
namespace {

// Pixels handed to giflib per call; at least one row of kMaxImageWidth.
constexpr int kPixelChunk = 16 * 1024;
static_assert(kPixelChunk >= kMaxImageWidth);

struct Sink {
  unsigned char* out;
  int capacity;
  int length;
  bool overflow;
};

int WriteToSink(GifFileType* gif, const GifByteType* bytes, int count) {
  Sink* sink = static_cast<Sink*>(gif->UserData);
  if (count < 0 || sink->overflow || count > sink->capacity - sink->length) {
    sink->overflow = true;
    return 0;
  }
  std::memcpy(sink->out + sink->length, bytes, static_cast<std::size_t>(count));
  sink->length += count;
  return count;
}

}  // namespace

int WriteGif(int width, int height, const Rgb (&palette)[kPaletteSize], int transparentIndex,
             const RowSource& rows, unsigned char* out, int capacity) {
  if (width <= 0 || height <= 0 || width > kMaxImageWidth || height > 0xFFFF) return -1;
  Sink sink{out, capacity, 0, false};
  int error = 0;
  GifFileType* gif = EGifOpen(&sink, WriteToSink, &error);
  if (gif == nullptr) return -1;
  EGifSetGifVersion(gif, true);

  GifColorType colours[kPaletteSize];
  for (int i = 0; i < kPaletteSize; ++i) {
    colours[i] = {palette[i].r, palette[i].g, palette[i].b};
  }
  // giflib copies the map into the file object, so a stack map suffices.
  ColorMapObject map{kPaletteSize, kPaletteBits, false, colours};
  bool ok = EGifPutScreenDesc(gif, width, height, kPaletteBits, 0, &map) == GIF_OK;
  if (ok && transparentIndex >= 0) {
    GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, transparentIndex};
    GifByteType extension[4];
    EGifGCBToExtension(&gcb, extension);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  // Whole runs of rows per EGifPutLine: each call costs a setup pass inside giflib, and a
  // counter image (a few thousand pixels) goes through in one call.
  std::uint8_t pixels[kPixelChunk];
  const int rowsPerCall = kPixelChunk / width;
  for (int y = 0; ok && y < height;) {
    const int n = std::min(rowsPerCall, height - y);
    for (int i = 0; i < n; ++i) rows.Row(y + i, pixels + i * width);
    ok = EGifPutLine(gif, pixels, n * width) == GIF_OK;
    y += n;
  }
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  if (!ok || sink.overflow) return -1;
  return sink.length;
}

}  // namespace vormel

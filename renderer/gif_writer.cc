#include "renderer/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "renderer/bit_string.h"

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

constexpr int kSubBlockBytes = 255;

unsigned char* PutWord(unsigned char* p, int value) {
  *p++ = static_cast<unsigned char>(value & 0xFF);
  *p++ = static_cast<unsigned char>((value >> 8) & 0xFF);
  return p;
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
    for (int i = 0; i < n; ++i) rows.Row(y + i, pixels + static_cast<std::ptrdiff_t>(i) * width);
    ok = EGifPutLine(gif, pixels, n * width) == GIF_OK;
    y += n;
  }
  ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
  if (!ok || sink.overflow) return -1;
  return sink.length;
}

// Byte for byte what giflib writes for WriteGif's calls, so that the two paths differ in the
// image data alone.
int WriteGifCodes(int width, int height, const Rgb (&palette)[kPaletteSize], int transparentIndex,
                  const BitString& codes, unsigned char* out, int capacity) {
  if (width <= 0 || height <= 0 || width > kMaxImageWidth || height > 0xFFFF) return -1;
  if (codes.overflow()) return -1;
  constexpr int kHeader = 6 + 7 + 3 * kPaletteSize;
  constexpr int kControl = 8;
  constexpr int kDescriptor = 10 + 1;  // and the LZW minimum code size
  const int data = codes.ByteLength();
  const int blocks = (data + kSubBlockBytes - 1) / kSubBlockBytes;
  const long long total = kHeader + (transparentIndex >= 0 ? kControl : 0) + kDescriptor +
                          static_cast<long long>(data) + blocks + 2;
  if (capacity < 0 || total > capacity) return -1;

  unsigned char* p = out;
  std::memcpy(p, "GIF89a", 6);
  p = PutWord(p + 6, width);
  p = PutWord(p, height);
  // Global colour table of kPaletteBits, kPaletteBits of colour resolution, not sorted.
  *p++ = static_cast<unsigned char>(0x80 | (kPaletteBits - 1) << 4 | (kPaletteBits - 1));
  *p++ = 0;  // background index
  *p++ = 0;  // aspect ratio
  for (const Rgb& c : palette) {
    *p++ = c.r;
    *p++ = c.g;
    *p++ = c.b;
  }
  if (transparentIndex >= 0) {
    const unsigned char control[kControl] = {
        0x21, 0xF9, 4, 0x01, 0, 0, static_cast<unsigned char>(transparentIndex), 0};
    std::memcpy(p, control, kControl);
    p += kControl;
  }
  *p++ = 0x2C;
  p = PutWord(p, 0);
  p = PutWord(p, 0);
  p = PutWord(p, width);
  p = PutWord(p, height);
  *p++ = 0;  // no local colour table, not interlaced
  *p++ = kPaletteBits;
  for (int offset = 0; offset < data; offset += kSubBlockBytes) {
    const int n = std::min(kSubBlockBytes, data - offset);
    *p++ = static_cast<unsigned char>(n);
    codes.CopyBytes(offset, n, p);
    p += n;
  }
  *p++ = 0;
  *p++ = 0x3B;
  return static_cast<int>(p - out);
}

}  // namespace vormel

#include "tests/renderer/gif_decode.h"

#include <gif_lib.h>

#include <cstring>

namespace vormel::testing {
namespace {

struct Source {
  const unsigned char* data;
  int length;
  int offset;
};

int ReadFromSource(GifFileType* gif, GifByteType* into, int count) {
  Source* s = static_cast<Source*>(gif->UserData);
  int n = count < s->length - s->offset ? count : s->length - s->offset;
  std::memcpy(into, s->data + s->offset, static_cast<std::size_t>(n));
  s->offset += n;
  return n;
}

}  // namespace

DecodedGif DecodeGif(const unsigned char* data, int length) {
  DecodedGif result;
  if (length < 6) return result;
  result.gif89 = std::memcmp(data, "GIF89a", 6) == 0;
  Source source{data, length, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, ReadFromSource, &error);
  if (gif == nullptr) return result;
  if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1 && gif->SColorMap != nullptr) {
    const SavedImage& image = gif->SavedImages[0];
    result.width = gif->SWidth;
    result.height = gif->SHeight;
    if (image.ImageDesc.Width == result.width && image.ImageDesc.Height == result.height) {
      result.pixels.assign(image.RasterBits, image.RasterBits + result.width * result.height);
      for (int i = 0; i < gif->SColorMap->ColorCount; ++i) {
        const GifColorType& c = gif->SColorMap->Colors[i];
        result.palette.push_back({c.Red, c.Green, c.Blue});
      }
      GraphicsControlBlock gcb;
      if (DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK) {
        result.transparentIndex = gcb.TransparentColor;
      }
      result.ok = true;
    }
  }
  DGifCloseFile(gif, &error);
  return result;
}

}  // namespace vormel::testing

#include "renderer/glyphs.h"
#include "renderer/image.h"
#include "renderer/request.h"

namespace vormel::testing {

std::string CompareGlyphs(const DecodedGif& image, int styleIndex, int frame, const char* text) {
  if (!image.ok) return "image does not decode";
  const Style& style = GetStyle(styleIndex);
  int inset = frame + style.padding;
  int width = 2 * inset - style.gap;
  for (const char* c = text; *c != '\0'; ++c)
    width += style.glyphs[GlyphForChar(*c)].width + style.gap;
  int height = style.height + 2 * inset;
  if (image.width != width || image.height != height) {
    return "size " + std::to_string(image.width) + "x" + std::to_string(image.height) +
           ", expected " + std::to_string(width) + "x" + std::to_string(height);
  }
  int x0 = inset;
  for (const char* c = text; *c != '\0'; ++c) {
    const Glyph& g = style.glyphs[GlyphForChar(*c)];
    for (int y = 0; y < style.height; ++y) {
      for (int x = 0; x < g.width; ++x) {
        int expected = GlyphPixelIndex(g.pixels[y][x], style.cells);
        int actual = image.At(x0 + x, inset + y);
        if (actual != expected) {
          return std::string("glyph '") + *c + "' differs at " + std::to_string(x) + "," +
                 std::to_string(y) + ": " + std::to_string(actual) +
                 " != " + std::to_string(expected);
        }
      }
    }
    x0 += g.width + style.gap;
  }
  return "";
}

DecodedGif RenderText(const char* parameters) {
  char names[8192] = {};
  std::int32_t values[1000] = {};
  std::int32_t lengths[1000] = {};
  unsigned char out[kRenderOutputCapacity];
  RenderBlock block{parameters, names, values, lengths, 0, 0, out};
  int n = RenderRequest(block, 0, [](std::time_t t) { return CivilAtOffset(t, 0); });
  return DecodeGif(out, n);
}

}  // namespace vormel::testing

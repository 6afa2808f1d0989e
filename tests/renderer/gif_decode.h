// Test helper: decodes a one-frame GIF from memory with giflib's decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "renderer/params.h"

namespace vormel::testing {

struct DecodedGif {
  bool ok = false;
  bool gif89 = false;
  int width = 0;
  int height = 0;
  int transparentIndex = -1;
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> pixels;  // palette indices, row by row

  int At(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

DecodedGif DecodeGif(const unsigned char* data, int length);

}  // namespace vormel::testing

namespace vormel::testing {

// Checks that image holds text drawn in style with a frame of the given thickness: the size,
// and every pixel of every glyph cell against the style's bitmaps. Empty when it matches,
// otherwise a description of the first difference.
std::string CompareGlyphs(const DecodedGif& image, int style, int frame, const char* text);

// Renders parameters through the request path against an empty table, at a fixed time.
DecodedGif RenderText(const char* parameters);

}  // namespace vormel::testing

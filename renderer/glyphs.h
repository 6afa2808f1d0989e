// The eight digit styles and their glyph bitmaps. The bitmaps are drawn by code on first use
// (a function-local static, so the one-time build is thread-safe) and are read-only after it.
#pragma once

#include <cstdint>

#include "renderer/params.h"

namespace vormel {

inline constexpr int kStyleCount = 8;
inline constexpr int kGlyphMaxWidth = 24;
inline constexpr int kGlyphMaxHeight = 32;
// A glyph pixel: the low bits hold coverage 0..kCoverageMax; kGhostBit marks coverage of the
// style's ghost colour (unlit segments, dim dots, shadows) instead of its ink.
inline constexpr int kCoverageMax = 7;
inline constexpr std::uint8_t kCoverageMask = 0x07;
inline constexpr std::uint8_t kGhostBit = 0x08;

enum GlyphId : int {
  kGlyphMinus = 10,
  kGlyphColon,
  kGlyphSlash,
  kGlyphGroup,
  kGlyphError,
  kGlyphCount
};

struct Glyph {
  int width = 0;
  std::uint8_t pixels[kGlyphMaxHeight][kGlyphMaxWidth] = {};
};

struct Style {
  int height = 0;      // every glyph of the style has this height
  int padding = 0;     // background between the frame and the glyphs
  int gap = 0;         // background between two glyphs
  bool cells = false;  // glyphs sit on their own cell colour (odometer drums)
  Rgb ink;
  Rgb background;
  Rgb cell;
  Rgb ghost;
  Glyph glyphs[kGlyphCount];
};

// style is 0..kStyleCount-1 ('a'..'h').
const Style& GetStyle(int style);

// Glyph for a character of the drawn text: '0'..'9', '-', ':', '/', ',' (group), else error.
int GlyphForChar(char c);

}  // namespace vormel

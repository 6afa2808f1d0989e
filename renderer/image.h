// Lays out a row of glyphs in a style, with padding and a bevelled frame, and encodes it as a
// GIF. Pure: reads the read-only glyph data only; safe on any thread.
#pragma once

#include "renderer/params.h"

namespace vormel {

inline constexpr int kMaxCells = 48;

struct ImageOptions {
  int style = 0;
  int frame = 2;
  Rgb frameColour = {160, 160, 160};
  bool transparent = false;
  bool hasBackground = false;
  Rgb background;
};

ImageOptions ImageOptionsFrom(const RenderParams& params);

// Palette layout shared by the encoder and the tests that decode the images.
inline constexpr int kIndexBackground = 0;
inline constexpr int kIndexCell = 1;
inline constexpr int kIndexInk = 1;    // + coverage 1..kCoverageMax
inline constexpr int kIndexGhost = 8;  // + coverage 1..kCoverageMax
inline constexpr int kIndexLight = 16;
inline constexpr int kIndexBase = 17;
inline constexpr int kIndexDark = 18;

// Draws text (characters GlyphForChar knows; at most kMaxCells) into out. Returns the length,
// or -1 when the text is empty, too long, or the image does not fit capacity.
int RenderCells(const char* text, const ImageOptions& options, unsigned char* out, int capacity);

// How RenderCells codes the image data: spliced from rows coded in advance (fast, larger),
// falling back to giflib when that does not fit capacity. Tests pin either path.
enum class GifEncoder { kSplicedOrGiflib, kSpliced, kGiflib };
int RenderCellsWith(GifEncoder encoder, const char* text, const ImageOptions& options,
                    unsigned char* out, int capacity);

// RenderCells through a small per-thread cache of finished images, for texts that repeat from
// request to request (fixed digits, the date, the clock, a counter shown without advancing).
// Same result as RenderCells; memory is bounded per thread.
int RenderCellsCached(const char* text, const ImageOptions& options, unsigned char* out,
                      int capacity);

// The error image: one error mark in the style. Always fits kRenderOutputCapacity.
int RenderError(const ImageOptions& options, unsigned char* out, int capacity);

// The palette index a glyph pixel maps to, for a style with or without cells.
int GlyphPixelIndex(std::uint8_t pixel, bool cells);

}  // namespace vormel

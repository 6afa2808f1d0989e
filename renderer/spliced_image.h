// The LZW code stream of a counter image, spliced from pieces coded in advance: every row of
// every glyph of every style, coded once for the process, and the frame and padding around the
// glyphs, coded once per shape in a small per-thread cache. A request then costs a few hundred
// bit-string appends instead of an LZW pass over every pixel.
#pragma once

#include "renderer/bit_string.h"
#include "renderer/layout.h"
#include "renderer/render_block.h"

namespace vormel {

// Words for a BitString that holds any stream an image of kRenderOutputCapacity bytes can
// carry, slack word included.
inline constexpr int kSpliceWords = kRenderOutputCapacity / 8 + 2;

// Appends layout's whole stream (BeginLzwStream to EndLzwStream) to out; its pixels are
// exactly layout's rows. False when it does not fit out or the image is wider than
// kMaxImageWidth.
bool SpliceImageCodes(const Layout& layout, BitString& out);

}  // namespace vormel

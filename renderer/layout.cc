#include "renderer/layout.h"

#include <algorithm>
#include <cstring>

#include "renderer/image.h"

namespace vormel {

void GlyphRowPixels(const Glyph& glyph, int gy, bool cells, std::uint8_t* out) {
  const std::uint8_t* src = glyph.pixels[gy];
  for (int gx = 0; gx < glyph.width; ++gx) {
    out[gx] = static_cast<std::uint8_t>(GlyphPixelIndex(src[gx], cells));
  }
}

Layout::Layout(int style, int frame, const int* glyphs, int count)
    : styleIndex_(std::clamp(style, 0, kStyleCount - 1)),
      style_(GetStyle(styleIndex_)),
      frame_(frame),
      glyphs_(glyphs),
      count_(count) {
  inset_ = frame_ + style_.padding;
  int content = 0;
  for (int i = 0; i < count; ++i) content += style_.glyphs[glyphs[i]].width;
  content += style_.gap * (count - 1);
  width_ = content + 2 * inset_;
  height_ = style_.height + 2 * inset_;
  // Every row between the top and bottom frame bands has the same frame pixels.
  if (height_ > 2 * frame_ && width_ <= kMaxImageWidth) {
    FrameRow(frame_, interior_);
    haveInterior_ = true;
  }
}

void Layout::Row(int y, std::uint8_t* out) const {
  if (haveInterior_ && y >= frame_ && y < height_ - frame_) {
    std::memcpy(out, interior_, static_cast<std::size_t>(width_));
  } else {
    FrameRow(y, out);
  }
  int gy = y - inset_;
  if (gy < 0 || gy >= style_.height) return;
  int x = inset_;
  for (int i = 0; i < count_; ++i) {
    const Glyph& g = style_.glyphs[glyphs_[i]];
    GlyphRowPixels(g, gy, style_.cells, out + x);
    x += g.width + style_.gap;
  }
}

void Layout::FrameRow(int y, std::uint8_t* out) const {
  int w = width_;
  int h = height_;
  std::memset(out, kIndexBackground, static_cast<std::size_t>(w));
  for (int x = 0; x < w; ++x) {
    int d = std::min(std::min(x, y), std::min(w - 1 - x, h - 1 - y));
    if (d >= frame_) {
      x = std::max(x, w - 1 - frame_);  // skip the interior; the next pixel is the right edge
      continue;
    }
    out[x] = static_cast<std::uint8_t>(FrameIndex(x, y, d));
  }
}

// Outer rings bevel out (light top-left), wide frames get an inner bevel back in, and the
// rings between take the frame's own colour.
int Layout::FrameIndex(int x, int y, int d) const {
  bool topLeft = std::min(x, y) <= std::min(width_ - 1 - x, height_ - 1 - y);
  int outer = std::max(1, frame_ / 3);
  int inner = frame_ >= 4 ? std::max(1, frame_ / 4) : 0;
  if (d < outer) return topLeft ? kIndexLight : kIndexDark;
  if (d >= frame_ - inner) return topLeft ? kIndexDark : kIndexLight;
  return kIndexBase;
}

}  // namespace vormel

// Where every pixel of a counter image goes: the glyphs of a style in a row, with padding and
// a bevelled frame around them. Both encoders draw from this one place, so the spliced and the
// giflib images cannot drift apart.
#pragma once

#include <cstdint>

#include "renderer/gif_writer.h"
#include "renderer/glyphs.h"

namespace vormel {

// Row gy of glyph as palette indices, glyph.width bytes.
void GlyphRowPixels(const Glyph& glyph, int gy, bool cells, std::uint8_t* out);

class Layout final : public RowSource {
 public:
  // style as for GetStyle; frame is already clamped to 0..kMaxFrame; glyphs holds count
  // (1..kMaxCells) glyph ids and outlives the layout.
  Layout(int style, int frame, const int* glyphs, int count);

  int width() const { return width_; }
  int height() const { return height_; }
  int frame() const { return frame_; }
  // Frame plus padding: the columns left and right of the glyphs, the rows above and below.
  int inset() const { return inset_; }
  int styleIndex() const { return styleIndex_; }
  const Style& style() const { return style_; }
  int count() const { return count_; }
  int glyph(int i) const { return glyphs_[i]; }

  void Row(int y, std::uint8_t* out) const override;

 private:
  void FrameRow(int y, std::uint8_t* out) const;
  int FrameIndex(int x, int y, int d) const;

  int styleIndex_;
  const Style& style_;
  int frame_;
  const int* glyphs_;
  int count_;
  int inset_ = 0;
  int width_ = 0;
  int height_ = 0;
  bool haveInterior_ = false;
  std::uint8_t interior_[kMaxImageWidth];
};

}  // namespace vormel

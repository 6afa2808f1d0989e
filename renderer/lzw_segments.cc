#include "renderer/lzw_segments.h"

namespace vormel {

void BeginLzwStream(BitString& out) { out.Append(kLzwClearCode, kLzwMinCodeSize + 1); }

// After a segment's Clear the decoder is back at the initial width.
void EndLzwStream(BitString& out) { out.Append(kLzwEndCode, kLzwMinCodeSize + 1); }

void LzwSegmentWriter::Reset() {
  prefix_ = -1;
  pixels_ = 0;
  nextCode_ = kLzwFirstCode;
  width_ = kLzwMinCodeSize + 1;
  for (int i = 0; i < kLzwClearCode; ++i) firstChild_[i] = kNone;
}

// Widths as a decoder reads them: codes get one bit wider after the code emitted while the
// next free code (this code's own entry not yet added) is 1 << width_. The closing Clear is
// read at the width the segment's last code left, which is why a segment carries its own.
void LzwSegmentWriter::Emit(int code) {
  out_.Append(static_cast<std::uint64_t>(code), width_);
  if (nextCode_ >= (1 << width_) && width_ < 12) ++width_;
}

void LzwSegmentWriter::Push(std::uint8_t index) {
  if (prefix_ < 0) {
    prefix_ = index;
  } else {
    int child = firstChild_[prefix_];
    while (child != kNone && symbol_[child] != index) child = nextSibling_[child];
    if (child != kNone) {
      prefix_ = child;
    } else {
      Emit(prefix_);
      const int code = nextCode_++;
      symbol_[code] = index;
      firstChild_[code] = kNone;
      nextSibling_[code] = firstChild_[prefix_];
      firstChild_[prefix_] = static_cast<std::uint16_t>(code);
      prefix_ = index;
    }
  }
  if (++pixels_ == kMaxSegmentPixels) EndSegment();
}

void LzwSegmentWriter::Push(const std::uint8_t* pixels, int count) {
  for (int i = 0; i < count; ++i) Push(pixels[i]);
}

void LzwSegmentWriter::EndSegment() {
  if (prefix_ < 0) return;
  Emit(prefix_);
  out_.Append(kLzwClearCode, width_);
  Reset();
}

}  // namespace vormel

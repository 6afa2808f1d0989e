// GIF LZW code streams built from segments: runs of palette indices, each coded with a fresh
// dictionary and closed by a Clear code written at the segment's own final code width. A
// finished segment's bits therefore do not depend on what comes before them, and segments
// coded once can be spliced in any order behind BeginLzwStream.
#pragma once

#include <cstdint>

#include "renderer/bit_string.h"
#include "renderer/gif_writer.h"

namespace vormel {

inline constexpr int kLzwMinCodeSize = kPaletteBits;
inline constexpr int kLzwClearCode = 1 << kLzwMinCodeSize;
inline constexpr int kLzwEndCode = kLzwClearCode + 1;
inline constexpr int kLzwFirstCode = kLzwClearCode + 2;
inline constexpr int kLzwMaxCodes = 4096;
// Longer runs are cut into several segments; the dictionary of one never fills.
inline constexpr int kMaxSegmentPixels = kMaxImageWidth;
static_assert(kLzwFirstCode + kMaxSegmentPixels <= kLzwMaxCodes);

// The Clear code every stream opens with, at the initial code width.
void BeginLzwStream(BitString& out);
// End of Information; the stream must be between segments (after EndSegment).
void EndLzwStream(BitString& out);

// Codes pixels into out as segments. Holds its dictionary inline (a few KiB).
class LzwSegmentWriter {
 public:
  explicit LzwSegmentWriter(BitString& out) : out_(out) { Reset(); }

  // index < kPaletteSize. A segment that reaches kMaxSegmentPixels ends by itself.
  void Push(std::uint8_t index);
  void Push(const std::uint8_t* pixels, int count);
  // Closes the open segment with its Clear code; nothing when no pixel is open.
  void EndSegment();

 private:
  static constexpr int kDictionarySize = kLzwFirstCode + kMaxSegmentPixels;
  static constexpr std::uint16_t kNone = 0xFFFF;

  void Reset();
  void Emit(int code);

  BitString& out_;
  int prefix_ = -1;  // code of the string matched so far; -1 at the start of a segment
  int pixels_ = 0;
  int nextCode_ = kLzwFirstCode;
  int width_ = kLzwMinCodeSize + 1;
  // Children of a code as a linked list: few strings ever get more than two extensions.
  std::uint16_t firstChild_[kDictionarySize];
  std::uint16_t nextSibling_[kDictionarySize];
  std::uint8_t symbol_[kDictionarySize];
};

}  // namespace vormel

// A string of bits in a caller's fixed array of 64-bit words, packed least significant bit
// first: GIF's order for LZW codes, so the words read as little-endian bytes are the stream.
#pragma once

#include <cstdint>
#include <cstring>

namespace vormel {

class BitString {
 public:
  // words holds wordCount >= 2 words; the last one is slack for the shifted splice, which
  // writes one word past the end of the bits it adds.
  BitString(std::uint64_t* words, int wordCount)
      : words_(words), capacityBits_((wordCount - 1) * 64) {
    words_[0] = 0;
  }

  int bits() const { return length_; }
  int ByteLength() const { return (length_ + 7) / 8; }
  bool overflow() const { return overflow_; }
  const std::uint64_t* words() const { return words_; }
  int WordLength() const { return (length_ + 63) / 64; }

  // Adds the low count bits of value (count 0..64; the bits above count must be zero).
  void Append(std::uint64_t value, int count) {
    if (count == 0) return;
    if (count > capacityBits_ - length_) {
      overflow_ = true;
      return;
    }
    const int shift = length_ & 63;
    std::uint64_t* word = words_ + (length_ >> 6);
    *word |= value << shift;
    // Always written, so the next word starts clear; the slack word takes it at the end.
    word[1] = shift == 0 ? 0 : value >> (64 - shift);
    length_ += count;
  }

  // Adds bits bits of src, whose bits above bits must be zero (true of every BitString).
  void AppendString(const std::uint64_t* src, int bits) {
    if (bits > capacityBits_ - length_) {
      overflow_ = true;
      return;
    }
    if (bits == 0) return;
    const int shift = length_ & 63;
    std::uint64_t* dst = words_ + (length_ >> 6);
    const int n = (bits + 63) / 64;
    if (shift == 0) {
      std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof *src);
      dst[n] = 0;
    } else {
      for (int i = 0; i < n; ++i) {
        dst[i] |= src[i] << shift;
        dst[i + 1] = src[i] >> (64 - shift);
      }
    }
    length_ += bits;
  }

  // Bytes offset..offset+count of the stream (whole bytes; the last is zero-filled).
  void CopyBytes(int offset, int count, unsigned char* out) const;

 private:
  std::uint64_t* words_;
  int capacityBits_;
  int length_ = 0;
  bool overflow_ = false;
};

}  // namespace vormel

#include "renderer/lzw_segments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "renderer/bit_string.h"
#include "renderer/gif_writer.h"
#include "tests/renderer/gif_decode.h"

namespace vormel {
namespace {

using Pixels = std::vector<std::uint8_t>;

// A backing store for a BitString, filled with garbage the way a caller's stack array is.
struct Bits {
  explicit Bits(std::size_t words)
      : store(words, 0xA5A5A5A5A5A5A5A5u), bits(store.data(), static_cast<int>(words)) {}
  std::vector<std::uint64_t> store;
  BitString bits;
};

std::vector<bool> Unpack(const BitString& s) {
  std::vector<bool> out;
  for (int i = 0; i < s.bits(); ++i) out.push_back(((s.words()[i / 64] >> (i % 64)) & 1) != 0);
  return out;
}

// Appends count random bits in chunks from one bit to a whole word; whole words fall on word
// boundaries as well.
std::vector<bool> AppendRandom(BitString& s, int count, std::mt19937& random) {
  constexpr int kChunks[] = {64, 1, 63, 64, 5, 40, 19, 64, 33, 12, 6};
  std::vector<bool> added;
  for (int i = 0; count > 0; i = (i + 1) % static_cast<int>(std::size(kChunks))) {
    const int n = std::min(kChunks[i], count);
    const std::uint64_t value = n == 64 ? random() * 0x100000001ull : random() & ((1ull << n) - 1);
    s.Append(value, n);
    for (int b = 0; b < n; ++b) added.push_back(((value >> b) & 1) != 0);
    count -= n;
  }
  return added;
}

TEST(BitString, SplicesAtEveryBitOffset) {
  std::mt19937 random(7);
  // Lengths across word boundaries, from starting offsets all over a word, whole words too.
  for (int length : {1, 5, 63, 64, 65, 127, 128, 129, 200}) {
    for (int lead : {0, 1, 9, 31, 63, 64, 65, 100, 128}) {
      Bits piece(8);
      const std::vector<bool> tail = AppendRandom(piece.bits, length, random);
      ASSERT_EQ(Unpack(piece.bits), tail);
      Bits target(16);
      std::vector<bool> want = AppendRandom(target.bits, lead, random);
      target.bits.AppendString(piece.bits.words(), piece.bits.bits());
      want.insert(want.end(), tail.begin(), tail.end());
      // And something after it, which lands on whatever the splice left past its end.
      const std::vector<bool> after = AppendRandom(target.bits, 70, random);
      want.insert(want.end(), after.begin(), after.end());
      ASSERT_EQ(Unpack(target.bits), want) << length << " after " << lead;
    }
  }
}

TEST(BitString, StopsAtItsCapacityWithoutWritingPastIt) {
  constexpr int kWords = 4;
  std::uint64_t store[kWords + 2];
  store[kWords] = store[kWords + 1] = 0xA5A5A5A5A5A5A5A5u;
  BitString s(store, kWords);
  const std::uint64_t ones[3] = {~0ull, ~0ull, (1ull << 62) - 1};  // 190 bits
  s.Append(1, 1);
  s.AppendString(ones, 190);
  EXPECT_FALSE(s.overflow());
  EXPECT_EQ(s.bits(), 191);
  const std::uint64_t two[1] = {3};
  s.AppendString(two, 2);  // one bit more than is left
  EXPECT_TRUE(s.overflow());
  s.Append(1, 1);  // the last bit still fits
  EXPECT_EQ(s.bits(), 192);
  s.Append(1, 1);
  EXPECT_EQ(s.bits(), 192);
  EXPECT_EQ(store[kWords], 0xA5A5A5A5A5A5A5A5u);
  EXPECT_EQ(store[kWords + 1], 0xA5A5A5A5A5A5A5A5u);
}

// Decodes a whole stream with giflib as an image one pixel wide.
Pixels Decode(const BitString& codes, int pixels) {
  Rgb palette[kPaletteSize] = {};
  std::vector<unsigned char> out(static_cast<std::size_t>(codes.ByteLength()) * 2 + 1024);
  const int n =
      WriteGifCodes(1, pixels, palette, -1, codes, out.data(), static_cast<int>(out.size()));
  testing::DecodedGif image = testing::DecodeGif(out.data(), n);
  return image.ok ? image.pixels : Pixels{};
}

std::size_t WordsFor(std::size_t pixels) { return pixels * 12 / 64 + 16; }

// Every segment coded on its own and spliced behind the stream's Clear: the way the renderer
// puts images together.
Bits Spliced(const std::vector<Pixels>& segments) {
  std::size_t total = 0;
  for (const Pixels& s : segments) total += s.size();
  Bits stream(WordsFor(total));
  BeginLzwStream(stream.bits);
  for (const Pixels& s : segments) {
    Bits piece(WordsFor(s.size()));
    LzwSegmentWriter writer(piece.bits);
    writer.Push(s.data(), static_cast<int>(s.size()));
    writer.EndSegment();
    stream.bits.AppendString(piece.bits.words(), piece.bits.bits());
  }
  EndLzwStream(stream.bits);
  return stream;
}

Pixels Joined(const std::vector<Pixels>& segments) {
  Pixels all;
  for (const Pixels& s : segments) all.insert(all.end(), s.begin(), s.end());
  return all;
}

// Adjacent pixels never repeat a pair, so each pixel costs one code and n pixels take the
// dictionary, and the code width, exactly n codes far (a de Bruijn sequence for pairs).
Pixels NewPairs(int n) {
  Pixels sequence;
  int a[3] = {};
  auto build = [&](auto& self, int t, int p) -> void {
    if (t > 2) {
      if (2 % p == 0)
        for (int j = 1; j <= p; ++j) sequence.push_back(static_cast<std::uint8_t>(a[j]));
      return;
    }
    a[t] = a[t - p];
    self(self, t + 1, p);
    for (int j = a[t - p] + 1; j < kPaletteSize; ++j) {
      a[t] = j;
      self(self, t + 1, t);
    }
  };
  build(build, 1, 1);
  sequence.resize(static_cast<std::size_t>(n));
  return sequence;
}

Pixels RunOf(int n, std::uint8_t index) { return Pixels(static_cast<std::size_t>(n), index); }

Pixels Cycle(int n, int period) {
  Pixels p;
  for (int i = 0; i < n; ++i) p.push_back(static_cast<std::uint8_t>(i % period));
  return p;
}

Pixels Random(int n, unsigned seed) {
  std::mt19937 random(seed);
  Pixels p;
  for (int i = 0; i < n; ++i) p.push_back(static_cast<std::uint8_t>(random() % kPaletteSize));
  return p;
}

struct Shape {
  const char* name;
  Pixels pixels;
};

std::vector<Shape> Shapes() {
  return {
      {"nothing", {}},
      {"one pixel, index 0", RunOf(1, 0)},
      {"one pixel, index 31", RunOf(1, 31)},
      {"run of 2", RunOf(2, 4)},
      {"run of 3, a code used as it is made", RunOf(3, 4)},
      {"run of 100", RunOf(100, 17)},
      {"run of 1024", RunOf(1024, 18)},
      {"all 32 indices", Cycle(32, 32)},
      {"32 indices 32 times", Cycle(1024, 32)},
      {"two indices alternating", Cycle(999, 2)},
      {"30 codes, last at width 6", NewPairs(30)},
      {"31 codes, Clear at width 7", NewPairs(31)},
      {"32 codes", NewPairs(32)},
      {"94 codes, Clear at width 7", NewPairs(94)},
      {"95 codes, Clear at width 8", NewPairs(95)},
      {"96 codes", NewPairs(96)},
      {"1024 codes, widths 6 to 11", NewPairs(1024)},
      {"random 1024", Random(1024, 1)},
      {"random 77", Random(77, 2)},
  };
}

TEST(LzwSegments, NewPairsCostOneCodeAPixel) {
  const Pixels p = NewPairs(1024);
  std::vector<bool> seen(kPaletteSize * kPaletteSize);
  for (std::size_t i = 1; i < p.size(); ++i) {
    const int pair = p[i - 1] * kPaletteSize + p[i];
    ASSERT_FALSE(seen[static_cast<std::size_t>(pair)]) << i;
    seen[static_cast<std::size_t>(pair)] = true;
  }
}

// giflib stops reading once it has every pixel, so a segment is followed by another one: that
// one decodes only if the first's closing Clear had the width the decoder expected.
TEST(LzwSegments, EverySegmentShapeRoundTripsThroughGiflib) {
  const Pixels after = {7, 7, 3, 31, 0};
  for (const Shape& shape : Shapes()) {
    SCOPED_TRACE(shape.name);
    const std::vector<Pixels> segments = {shape.pixels, after};
    Bits stream = Spliced(segments);
    ASSERT_FALSE(stream.bits.overflow());
    EXPECT_EQ(Decode(stream.bits, static_cast<int>(Joined(segments).size())), Joined(segments));
  }
}

TEST(LzwSegments, AllShapesSplicedIntoOneStreamDecode) {
  const std::vector<Shape> shapes = Shapes();
  std::vector<Pixels> segments;
  for (const Shape& shape : shapes) segments.push_back(shape.pixels);
  // And again in reverse, so that each shape also starts at another bit offset.
  for (auto it = shapes.rbegin(); it != shapes.rend(); ++it) segments.push_back(it->pixels);
  const Pixels all = Joined(segments);
  EXPECT_EQ(Decode(Spliced(segments).bits, static_cast<int>(all.size())), all);
}

// One writer coding segment after segment must leave no state behind: its bits are the same
// as those of segments coded apart and spliced.
TEST(LzwSegments, OneWriterEqualsSegmentsSplicedApart) {
  std::vector<Pixels> segments;
  for (const Shape& shape : Shapes()) segments.push_back(shape.pixels);
  const Bits spliced = Spliced(segments);
  Bits continuous(WordsFor(Joined(segments).size()));
  BeginLzwStream(continuous.bits);
  LzwSegmentWriter writer(continuous.bits);
  for (const Pixels& s : segments) {
    for (std::uint8_t p : s) writer.Push(p);
    writer.EndSegment();
  }
  EndLzwStream(continuous.bits);
  ASSERT_EQ(continuous.bits.bits(), spliced.bits.bits());
  EXPECT_EQ(Unpack(continuous.bits), Unpack(spliced.bits));
}

// Longer runs than one segment may hold are cut by the writer itself, mid-pattern.
TEST(LzwSegments, RunsLongerThanASegmentAreCut) {
  struct Case {
    const char* name;
    Pixels pixels;
  };
  const Case cases[] = {
      {"run of 1025", RunOf(kMaxSegmentPixels + 1, 9)},
      {"new pairs then a run",
       [] {
         Pixels p = NewPairs(1000);
         Pixels r = RunOf(3000, 2);
         p.insert(p.end(), r.begin(), r.end());
         return p;
       }()},
      {"random 5000", Random(5000, 3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(Spliced({c.pixels, {1, 2}}).bits, static_cast<int>(c.pixels.size()) + 2),
              Joined({c.pixels, {1, 2}}));
  }
}

}  // namespace
}  // namespace vormel

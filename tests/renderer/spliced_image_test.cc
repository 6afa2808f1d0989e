#include "renderer/spliced_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "renderer/glyphs.h"
#include "renderer/image.h"
#include "renderer/layout.h"
#include "renderer/render_block.h"
#include "tests/renderer/gif_decode.h"

namespace vormel {
namespace {

using testing::DecodedGif;
using testing::DecodeGif;

// The image, or "" when it fails; guard bytes past capacity catch a write beyond it.
std::string Render(GifEncoder encoder, const char* text, const ImageOptions& options,
                   int capacity = kRenderOutputCapacity) {
  constexpr std::size_t kGuard = 512;
  std::vector<unsigned char> out(static_cast<std::size_t>(capacity) + kGuard, 0x5A);
  const int n = RenderCellsWith(encoder, text, options, out.data(), capacity);
  for (std::size_t i = static_cast<std::size_t>(capacity); i < out.size(); ++i) {
    if (out[i] != 0x5A) return "<written past capacity>";
  }
  return n < 0 ? std::string() : std::string(reinterpret_cast<char*>(out.data()), n);
}

DecodedGif Decode(const std::string& gif) {
  return DecodeGif(reinterpret_cast<const unsigned char*>(gif.data()),
                   static_cast<int>(gif.size()));
}

// Everything before the image data: header, screen, palette, graphic control, descriptor and
// the LZW minimum code size.
std::size_t PrefixLength(bool transparent) {
  return 6 + 7 + 3 * kPaletteSize + (transparent ? 8 : 0) + 10 + 1;
}

// Empty when the spliced image is the giflib image in all but the coding of its data.
std::string Difference(const std::string& spliced, const std::string& giflib, bool transparent) {
  if (spliced.empty()) return "no spliced image";
  if (giflib.empty()) return "no giflib image";
  const std::size_t prefix = PrefixLength(transparent);
  if (spliced.compare(0, prefix, giflib, 0, prefix) != 0) return "header bytes differ";
  if (spliced.compare(spliced.size() - 2, 2, std::string("\0;", 2)) != 0) return "bad ending";
  const DecodedGif a = Decode(spliced);
  const DecodedGif b = Decode(giflib);
  if (!a.ok) return "spliced image does not decode";
  if (!b.ok) return "giflib image does not decode";
  if (a.width != b.width || a.height != b.height) return "size differs";
  if (a.palette != b.palette) return "palette differs";
  if (a.transparentIndex != b.transparentIndex) return "transparency differs";
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    if (a.pixels[i] != b.pixels[i]) {
      return "pixel " + std::to_string(i % static_cast<std::size_t>(a.width)) + "," +
             std::to_string(i / static_cast<std::size_t>(a.width)) + " differs";
    }
  }
  return "";
}

struct Look {
  const char* name;
  bool transparent;
  bool hasBackground;
  Rgb background;
  Rgb frameColour;
};

const Look kLooks[] = {
    {"plain", false, false, {}, {160, 160, 160}},
    {"transparent", true, false, {}, {160, 160, 160}},
    {"coloured", false, true, {1, 2, 3}, {200, 100, 50}},
    {"transparent on colour", true, true, {250, 0, 9}, {0, 0, 0}},
};

// Every glyph, short and long texts (the last glyph of a row has no gap after it), one cell.
const char* const kTexts[] = {"7",          "12345678", "-9,876,543,210",  "23:59",
                              "2024/06/10", "8?",       "0000000000000000"};

TEST(SplicedImage, DecodesLikeGiflibForEveryTextStyleFrameAndLook) {
  for (const char* text : kTexts) {
    for (int style = 0; style < kStyleCount; ++style) {
      for (int frame = 0; frame <= kMaxFrame; ++frame) {
        for (const Look& look : kLooks) {
          SCOPED_TRACE(std::string(text) + " style " + std::to_string(style) + " frame " +
                       std::to_string(frame) + " " + look.name);
          ImageOptions o;
          o.style = style;
          o.frame = frame;
          o.transparent = look.transparent;
          o.hasBackground = look.hasBackground;
          o.background = look.background;
          o.frameColour = look.frameColour;
          const std::string spliced = Render(GifEncoder::kSpliced, text, o);
          ASSERT_EQ(Difference(spliced, Render(GifEncoder::kGiflib, text, o), look.transparent),
                    "");
          // What fits is drawn the fast way.
          EXPECT_EQ(Render(GifEncoder::kSplicedOrGiflib, text, o), spliced);
        }
      }
    }
  }
}

// Frames beyond the largest are drawn as the largest, by both paths.
TEST(SplicedImage, ClampedFramesMatchGiflib) {
  for (int frame : {-5, kMaxFrame + 1, 1000}) {
    SCOPED_TRACE(frame);
    ImageOptions o;
    o.frame = frame;
    EXPECT_EQ(Difference(Render(GifEncoder::kSpliced, "42", o),
                         Render(GifEncoder::kGiflib, "42", o), false),
              "");
  }
}

// The bound is exact: the image fits a buffer of its own length and not one a byte shorter.
TEST(SplicedImage, FitsABufferOfExactlyItsLength) {
  for (int style = 0; style < kStyleCount; ++style) {
    for (bool transparent : {false, true}) {
      SCOPED_TRACE(std::to_string(style) + (transparent ? " transparent" : ""));
      ImageOptions o;
      o.style = style;
      o.transparent = transparent;
      const std::string spliced = Render(GifEncoder::kSpliced, "12345678", o);
      ASSERT_FALSE(spliced.empty());
      const int n = static_cast<int>(spliced.size());
      EXPECT_EQ(Render(GifEncoder::kSpliced, "12345678", o, n), spliced);
      EXPECT_EQ(Render(GifEncoder::kSpliced, "12345678", o, n - 1), "");
    }
  }
}

struct FallbackCase {
  const char* why;
  const char* text;
  int style;
  int frame;
  bool sizedToGiflib;  // capacity: giflib's image plus bytes, or bytes alone
  int bytes;
  bool streamFits;  // the spliced stream fits its buffer, only the file is too large
};

TEST(SplicedImage, FallsBackToGiflibWhenTheSplicedImageDoesNotFit) {
  const std::string longest(kMaxCells, '8');
  const char* const digits = "123456789012345678901234567890123456789012345678";
  ASSERT_EQ(std::strlen(digits), static_cast<std::size_t>(kMaxCells));
  const FallbackCase cases[] = {
      {"a buffer just as large as giflib's image", "12345678", 1, 2, true, 0, true},
      {"a buffer one byte larger than giflib's image", "0", 7, 0, true, 1, true},
      {"the spliced stream is larger than any output", longest.c_str(), 0, 2, false,
       kRenderOutputCapacity, false},
      {"the spliced stream fits, its file does not", digits, 5, 2, false, kRenderOutputCapacity,
       true},
  };
  for (const FallbackCase& c : cases) {
    SCOPED_TRACE(c.why);
    ImageOptions o;
    o.style = c.style;
    o.frame = c.frame;
    const std::string giflib = Render(GifEncoder::kGiflib, c.text, o);
    ASSERT_FALSE(giflib.empty());
    const int capacity = c.sizedToGiflib ? static_cast<int>(giflib.size()) + c.bytes : c.bytes;
    ASSERT_LE(static_cast<int>(giflib.size()), capacity);
    const std::string unbounded = Render(GifEncoder::kSpliced, c.text, o, 4 * capacity);
    EXPECT_EQ(!unbounded.empty(), c.streamFits);
    EXPECT_EQ(Render(GifEncoder::kSpliced, c.text, o, capacity), "");
    const std::string drawn = Render(GifEncoder::kSplicedOrGiflib, c.text, o, capacity);
    EXPECT_EQ(drawn, giflib);
    EXPECT_TRUE(Decode(drawn).ok);
  }
}

TEST(SplicedImage, FailsWhenNeitherPathFits) {
  ImageOptions o;
  o.frame = kMaxFrame;
  unsigned char out[kRenderOutputCapacity + 16];
  std::memset(out, 0x5A, sizeof out);
  EXPECT_EQ(RenderCellsWith(GifEncoder::kSplicedOrGiflib, "12345678", o, out, 100), -1);
  // Nothing was written beyond the capacity given.
  for (std::size_t i = 100; i < sizeof out; ++i) ASSERT_EQ(out[i], 0x5A) << i;
  // Wider than a GIF row may be here: 48 of the widest glyph with the widest frame.
  o.style = 1;
  int glyphs[kMaxCells];
  std::fill(std::begin(glyphs), std::end(glyphs), GlyphForChar('8'));
  ASSERT_GT(Layout(o.style, o.frame, glyphs, kMaxCells).width(), kMaxImageWidth);
  EXPECT_EQ(Render(GifEncoder::kSplicedOrGiflib, std::string(kMaxCells, '8').c_str(), o), "");
}

// Two shapes that agree on all but one thing that decides the frame and padding rows: the
// cache of those rows must not hand the second the first's. (Height does not change those rows
// today: the bottom band is drawn from the bottom edge.)
struct ShapePair {
  const char* differs;
  int style[2];
  int frame[2];
  const char* text[2];
};

TEST(SplicedImage, ShapesAlikeButForOneThingAreNotConfused) {
  const ShapePair pairs[] = {
      {"frame", {0, 1}, {0, 1}, {"/", "-"}},
      {"padding", {3, 5}, {0, 0}, {"-0", "00"}},
      {"width", {0, 0}, {0, 0}, {"0", ":"}},
  };
  for (const ShapePair& p : pairs) {
    SCOPED_TRACE(p.differs);
    int fields[2][4];
    for (int i = 0; i < 2; ++i) {
      int glyphs[kMaxCells];
      const int count = static_cast<int>(std::strlen(p.text[i]));
      for (int j = 0; j < count; ++j) glyphs[j] = GlyphForChar(p.text[i][j]);
      Layout layout(p.style[i], p.frame[i], glyphs, count);
      const int f[4] = {layout.frame(), layout.style().padding, layout.width(), layout.height()};
      std::memcpy(fields[i], f, sizeof f);
    }
    // The pair must still differ in exactly the one thing it is named for.
    int differing = 0;
    for (int k = 0; k < 4; ++k) differing += fields[0][k] != fields[1][k] ? 1 : 0;
    ASSERT_EQ(differing, 1);
    for (int order = 0; order < 2; ++order) {
      const int first = order;
      const int second = 1 - order;
      ImageOptions a;
      a.style = p.style[first];
      a.frame = p.frame[first];
      ImageOptions b;
      b.style = p.style[second];
      b.frame = p.frame[second];
      ASSERT_FALSE(Render(GifEncoder::kSpliced, p.text[first], a).empty());
      EXPECT_EQ(Difference(Render(GifEncoder::kSpliced, p.text[second], b),
                           Render(GifEncoder::kGiflib, p.text[second], b), false),
                "");
    }
  }
}

struct ThreadCase {
  std::string text;
  ImageOptions options;
};

// More shapes than a thread's cache holds, so every thread keeps replacing entries.
std::vector<ThreadCase> ThreadCases() {
  std::vector<ThreadCase> cases;
  for (int i = 0; i < 24; ++i) {
    ThreadCase c;
    c.text = std::string(static_cast<std::size_t>(1 + i % 9), static_cast<char>('0' + i % 10));
    c.options.style = i % kStyleCount;
    c.options.frame = (i * 7) % (kMaxFrame + 1);
    c.options.transparent = i % 3 == 0;
    cases.push_back(c);
  }
  return cases;
}

TEST(SplicedImage, ThreadsDrawingDifferentShapesMatchOneThread) {
  const std::vector<ThreadCase> cases = ThreadCases();
  constexpr int kThreads = 4;
  constexpr int kRounds = 6;
  // Each thread visits every case in an order of its own (strides prime to the case count).
  constexpr std::size_t kStrides[kThreads] = {1, 5, 7, 11};
  ASSERT_EQ(cases.size(), 24u);
  // The threads draw first, so that in a process of its own this test also races the
  // one-time coding of the glyph rows.
  std::vector<std::vector<std::string>> drawn(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::string>& mine = drawn[static_cast<std::size_t>(t)];
      mine.resize(cases.size());
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
          const std::size_t k = (i * kStrides[t] + static_cast<std::size_t>(round)) % cases.size();
          const std::string image =
              Render(GifEncoder::kSplicedOrGiflib, cases[k].text.c_str(), cases[k].options);
          if (round == 0) {
            mine[k] = image;
          } else if (image != mine[k]) {
            mine[k] = "changed between rounds";
          }
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].text + " style " + std::to_string(cases[k].options.style));
    const std::string alone =
        Render(GifEncoder::kSplicedOrGiflib, cases[k].text.c_str(), cases[k].options);
    ASSERT_EQ(
        Difference(alone, Render(GifEncoder::kGiflib, cases[k].text.c_str(), cases[k].options),
                   cases[k].options.transparent),
        "");
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(drawn[static_cast<std::size_t>(t)][k], alone);
  }
}

}  // namespace
}  // namespace vormel

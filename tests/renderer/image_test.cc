#include "renderer/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "renderer/glyphs.h"
#include "renderer/render_block.h"
#include "renderer/request.h"
#include "tests/renderer/gif_decode.h"

namespace vormel {
namespace {

using testing::CompareGlyphs;
using testing::DecodedGif;
using testing::DecodeGif;
using testing::RenderText;

TEST(Image, EveryStyleDrawsItsGlyphs) {
  for (int s = 0; s < kStyleCount; ++s) {
    std::string letter(1, static_cast<char>('a' + s));
    SCOPED_TRACE(letter);
    DecodedGif image = RenderText(("lit=-9876543210,ft=3,group=yes,dd=" + letter).c_str());
    ASSERT_TRUE(image.ok);
    EXPECT_TRUE(image.gif89);
    EXPECT_EQ(CompareGlyphs(image, s, 3, "-9,876,543,210"), "");
    const Style& style = GetStyle(s);
    EXPECT_EQ(image.palette[kIndexBackground], style.background);
    EXPECT_EQ(image.palette[kIndexInk + kCoverageMax], style.ink);
    EXPECT_EQ(image.transparentIndex, -1);
  }
}

TEST(Image, StylesDifferInSizeColourAndShape) {
  DecodedGif images[kStyleCount];
  for (int s = 0; s < kStyleCount; ++s) {
    images[s] =
        RenderText(("lit=0123456789,dd=" + std::string(1, static_cast<char>('a' + s))).c_str());
    ASSERT_TRUE(images[s].ok);
  }
  for (int a = 0; a < kStyleCount; ++a) {
    for (int b = a + 1; b < kStyleCount; ++b) {
      SCOPED_TRACE(std::to_string(a) + " vs " + std::to_string(b));
      EXPECT_FALSE(images[a].palette[kIndexInk + kCoverageMax] ==
                       images[b].palette[kIndexInk + kCoverageMax] &&
                   images[a].palette[0] == images[b].palette[0]);
      EXPECT_FALSE(images[a].width == images[b].width && images[a].height == images[b].height &&
                   images[a].pixels == images[b].pixels);
    }
  }
}

TEST(Image, FrameBevelAndColour) {
  struct Case {
    int frame;
  };
  for (int frame : {0, 1, 2, 5, 10, 20}) {
    SCOPED_TRACE(frame);
    DecodedGif image =
        RenderText(("lit=7,dd=c,frgb=200;100;50,ft=" + std::to_string(frame)).c_str());
    ASSERT_EQ(CompareGlyphs(image, 2, frame, "7"), "");
    int w = image.width;
    int h = image.height;
    if (frame == 0) {
      EXPECT_EQ(image.At(0, 0), kIndexBackground);
      EXPECT_EQ(image.At(w - 1, h - 1), kIndexBackground);
      continue;
    }
    EXPECT_EQ(image.palette[kIndexBase], (Rgb{200, 100, 50}));
    // Raised outer edge: light on top and left, dark on bottom and right.
    EXPECT_EQ(image.At(0, h / 2), kIndexLight);
    EXPECT_EQ(image.At(w / 2, 0), kIndexLight);
    EXPECT_EQ(image.At(w - 1, h / 2), kIndexDark);
    EXPECT_EQ(image.At(w / 2, h - 1), kIndexDark);
    // Every pixel of the band is a frame colour; the first pixel inside is background.
    for (int d = 0; d < frame; ++d) {
      for (int x : {d, w - 1 - d}) {
        int index = image.At(x, h / 2);
        EXPECT_TRUE(index == kIndexLight || index == kIndexDark || index == kIndexBase) << x;
      }
    }
    EXPECT_EQ(image.At(frame, h / 2), kIndexBackground);
    EXPECT_EQ(image.At(w / 2, frame), kIndexBackground);
  }
}

TEST(Image, ZeroFillGroupingAndSign) {
  struct Case {
    const char* parameters;
    const char* drawn;
  };
  const Case cases[] = {
      {"lit=42,digits=5", "00042"},
      {"lit=42,digits=1", "42"},
      {"lit=00042", "00042"},
      {"lit=-42,digits=4", "-0042"},
      {"lit=1234567,group=yes", "1,234,567"},
      {"lit=123456,group=yes", "123,456"},
      {"lit=12,group=yes", "12"},
      {"lit=5,digits=7,group=yes", "0,000,005"},
      {"lit=-1234,group=yes", "-1,234"},
      {"lit=1234567,group=no", "1234567"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    EXPECT_EQ(
        CompareGlyphs(RenderText((std::string(c.parameters) + ",dd=b").c_str()), 1, 2, c.drawn),
        "");
  }
}

TEST(Image, TransparentBackgroundAndColourOverride) {
  DecodedGif clear = RenderText("lit=8,bg=none,ft=0,dd=g");
  ASSERT_TRUE(clear.ok);
  EXPECT_EQ(clear.transparentIndex, kIndexBackground);
  EXPECT_EQ(clear.At(0, 0), kIndexBackground);
  EXPECT_EQ(CompareGlyphs(clear, 6, 0, "8"), "");

  DecodedGif coloured = RenderText("lit=8,bg=1;2;3,dd=g");
  ASSERT_TRUE(coloured.ok);
  EXPECT_EQ(coloured.transparentIndex, -1);
  EXPECT_EQ(coloured.palette[kIndexBackground], (Rgb{1, 2, 3}));
  // The odometer's drums stay opaque on a transparent background.
  DecodedGif drums = RenderText("lit=8,bg=none,dd=e");
  EXPECT_EQ(drums.transparentIndex, kIndexBackground);
  EXPECT_EQ(CompareGlyphs(drums, 4, 2, "8"), "");
  EXPECT_NE(drums.palette[kIndexCell], drums.palette[kIndexBackground]);
}

TEST(Image, ErrorImageForEveryErrorCase) {
  const char* cases[] = {"",
                         "df=missing",
                         "lit=12a",
                         "lit=",
                         "lit=-",
                         "dd=c",
                         "df=",
                         "display=counter",
                         "lit=123456789012345678901234567890123",
                         "lit=1,digits=1,dd=c,lit=x"};
  for (const char* parameters : cases) {
    SCOPED_TRACE(parameters);
    DecodedGif image = RenderText(parameters);
    int style = std::string(parameters).find("dd=c") != std::string::npos ? 2 : 0;
    EXPECT_EQ(CompareGlyphs(image, style, 2, "?"), "");
  }
  // The error keeps the chosen style and frame.
  EXPECT_EQ(CompareGlyphs(RenderText("df=missing,dd=h,ft=9"), 7, 9, "?"), "");
}

TEST(Image, LongestInputsStayWithinTheBuffer) {
  const std::string longest[] = {
      "lit=12345678901234567890123456789012,group=yes,ft=20",
      "lit=-1234567890123456789012345678901,group=yes,ft=20,frgb=1;2;3",
      "lit=98765432109876543210987654321098,ft=20,bg=none",
      "lit=1,digits=32,group=yes,ft=20",
      "display=date,datefmt=dmy,ft=20",
  };
  for (int s = 0; s < kStyleCount; ++s) {
    for (const std::string& text : longest) {
      std::string parameters = text + ",dd=" + std::string(1, static_cast<char>('a' + s));
      SCOPED_TRACE(parameters);
      char names[8192] = {};
      std::int32_t values[1000] = {};
      std::int32_t lengths[1000] = {};
      unsigned char out[kRenderOutputCapacity + 64];
      std::fill(std::begin(out), std::end(out), 0xA5);
      RenderBlock block{parameters.c_str(), names, values, lengths, 0, 0, out};
      int n = RenderRequest(block, 0, [](std::time_t t) { return CivilAtOffset(t, 0); });
      ASSERT_GT(n, 0);
      ASSERT_LE(n, kRenderOutputCapacity);
      for (int i = kRenderOutputCapacity; i < kRenderOutputCapacity + 64; ++i)
        ASSERT_EQ(out[i], 0xA5);
      DecodedGif image = DecodeGif(out, n);
      ASSERT_TRUE(image.ok);
      // These still fit: they draw their digits, not the error mark.
      EXPECT_GT(image.width, 150);
    }
  }
}

TEST(Image, TooSmallBufferFailsAndErrorImageAlwaysFits) {
  unsigned char out[kRenderOutputCapacity];
  ImageOptions options;
  options.frame = 20;
  EXPECT_EQ(RenderCells("12345678", options, out, 200), -1);
  EXPECT_EQ(RenderCells("", options, out, kRenderOutputCapacity), -1);
  EXPECT_EQ(
      RenderCells(std::string(kMaxCells + 1, '1').c_str(), options, out, kRenderOutputCapacity),
      -1);
  for (int s = 0; s < kStyleCount; ++s) {
    options.style = s;
    int n = RenderError(options, out, kRenderOutputCapacity);
    ASSERT_GT(n, 0);
    EXPECT_LT(n, kRenderOutputCapacity / 4);
    EXPECT_EQ(CompareGlyphs(DecodeGif(out, n), s, 20, "?"), "");
  }
}

}  // namespace
}  // namespace vormel

namespace vormel {
namespace {

// Neighbouring rows differ in one thing the image depends on; a cache key that missed any of
// them would hand one row the other's image.
struct CachedCase {
  const char* text;
  ImageOptions options;
};

ImageOptions With(int style, int frame, Rgb frameColour, bool transparent, bool hasBackground,
                  Rgb background) {
  ImageOptions o;
  o.style = style;
  o.frame = frame;
  o.frameColour = frameColour;
  o.transparent = transparent;
  o.hasBackground = hasBackground;
  o.background = background;
  return o;
}

const CachedCase kCachedCases[] = {
    {"12345678", With(2, 5, {160, 160, 160}, false, false, {})},
    {"12345679", With(2, 5, {160, 160, 160}, false, false, {})},       // text
    {"12345679", With(3, 5, {160, 160, 160}, false, false, {})},       // style
    {"12345679", With(3, 6, {160, 160, 160}, false, false, {})},       // frame
    {"12345679", With(3, 6, {160, 161, 160}, false, false, {})},       // frame colour
    {"12345679", With(3, 6, {160, 161, 160}, true, false, {})},        // transparency
    {"12345679", With(3, 6, {160, 161, 160}, true, true, {1, 2, 3})},  // background
    {"12345679", With(3, 6, {160, 161, 160}, true, true, {1, 2, 4})},  // background colour
    {"1234567", With(3, 6, {160, 161, 160}, true, true, {1, 2, 4})},   // shorter text
    {"12:34:56", With(0, 2, {160, 160, 160}, false, false, {})},
    {"2024/05/06", With(7, 0, {160, 160, 160}, false, false, {})},
    {"?", With(1, 20, {0, 0, 0}, false, false, {})},
};

std::string Render(bool cached, const CachedCase& c, int capacity = kRenderOutputCapacity) {
  unsigned char out[kRenderOutputCapacity];
  int n = cached ? RenderCellsCached(c.text, c.options, out, capacity)
                 : RenderCells(c.text, c.options, out, capacity);
  return n < 0 ? "<failed>" : std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n));
}

TEST(ImageCache, EveryHitAndMissEqualsAFreshRender) {
  // Three rounds: more cases than cache entries, so later rounds mix hits with replacements.
  for (int round = 0; round < 3; ++round) {
    for (const CachedCase& c : kCachedCases) {
      SCOPED_TRACE(std::string(c.text) + " round " + std::to_string(round));
      const std::string fresh = Render(false, c);
      ASSERT_NE(fresh, "<failed>");
      EXPECT_EQ(Render(true, c), fresh);
      EXPECT_EQ(Render(true, c), fresh);
    }
  }
}

TEST(ImageCache, ACachedImageTooLargeForTheBufferFails) {
  const CachedCase& c = kCachedCases[0];
  const std::string fresh = Render(true, c);
  ASSERT_NE(fresh, "<failed>");
  EXPECT_EQ(Render(true, c, static_cast<int>(fresh.size()) - 1), "<failed>");
  EXPECT_EQ(Render(true, c, static_cast<int>(fresh.size())), fresh);
}

TEST(ImageCache, EmptyOrOverlongTextFailsAsUncached) {
  const ImageOptions o;
  unsigned char out[kRenderOutputCapacity];
  EXPECT_EQ(RenderCellsCached("", o, out, kRenderOutputCapacity), -1);
  const std::string longText(kMaxCells + 1, '1');
  EXPECT_EQ(RenderCellsCached(longText.c_str(), o, out, kRenderOutputCapacity), -1);
}

}  // namespace
}  // namespace vormel

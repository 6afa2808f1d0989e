#include "renderer/params.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vormel {
namespace {

TEST(ParseParams, DefaultsForEmptyAndNull) {
  for (const char* text : {static_cast<const char*>(nullptr), ""}) {
    RenderParams p = ParseParams(text);
    EXPECT_TRUE(p.empty);
    EXPECT_EQ(p.display, DisplayMode::kCounter);
    EXPECT_FALSE(p.hasName);
    EXPECT_EQ(p.style, 0);
    EXPECT_EQ(p.frame, 2);
    EXPECT_EQ(p.minDigits, 1);
    EXPECT_TRUE(p.count);
    EXPECT_FALSE(p.transparent);
  }
}

TEST(ParseParams, EveryKeyCaseInsensitive) {
  RenderParams p = ParseParams(
      "DISPLAY=Clock,Df=My Counter,dD=H,fT=20,FRGB=255;0;7,Digits=32,GROUP=YES,count=NO,"
      "bg=1;2;3,Hours=12,DateFmt=DMY,TZ=-0530");
  EXPECT_FALSE(p.empty);
  EXPECT_EQ(p.display, DisplayMode::kClock);
  EXPECT_STREQ(p.name, "My Counter");
  EXPECT_EQ(p.style, 7);
  EXPECT_EQ(p.frame, 20);
  EXPECT_EQ(p.frameColour, (Rgb{255, 0, 7}));
  EXPECT_EQ(p.minDigits, 32);
  EXPECT_TRUE(p.group);
  EXPECT_FALSE(p.count);
  EXPECT_TRUE(p.hasBackground);
  EXPECT_EQ(p.background, (Rgb{1, 2, 3}));
  EXPECT_TRUE(p.hours12);
  EXPECT_EQ(p.dateOrder, DateOrder::kDmy);
  EXPECT_TRUE(p.hasTz);
  EXPECT_EQ(p.tzOffsetMinutes, -(5 * 60 + 30));
}

// Malformed values leave the default (or the earlier valid value) in place.
TEST(ParseParams, MalformedItemsIgnored) {
  struct Case {
    const char* text;
    int style, frame, digits;
    Rgb frameColour;
    bool hasTz;
  };
  const Rgb grey{160, 160, 160};
  const Case cases[] = {
      {"dd=i", 0, 2, 1, grey, false},
      {"dd=bb", 0, 2, 1, grey, false},
      {"dd=b,dd=z", 1, 2, 1, grey, false},
      {"ft=21", 0, 2, 1, grey, false},
      {"ft=-1", 0, 2, 1, grey, false},
      {"ft=0", 0, 0, 1, grey, false},
      {"ft=5x", 0, 2, 1, grey, false},
      {"digits=0", 0, 2, 1, grey, false},
      {"digits=33", 0, 2, 1, grey, false},
      {"frgb=256;0;0", 0, 2, 1, grey, false},
      {"frgb=1;2", 0, 2, 1, grey, false},
      {"frgb=1;2;3;4", 0, 2, 1, grey, false},
      {"frgb=;;", 0, 2, 1, grey, false},
      {"tz=+2400", 0, 2, 1, grey, false},
      {"tz=0900", 0, 2, 1, grey, false},
      {"tz=+09:00", 0, 2, 1, grey, false},
      {"tz=+1460", 0, 2, 1, grey, false},
      {",,=,dd,ft=,=3,nokey,zz=9,dd=c", 2, 2, 1, grey, false},
      {"future=1;2;3,dd=d,ft=7", 3, 7, 1, grey, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RenderParams p = ParseParams(c.text);
    EXPECT_EQ(p.style, c.style);
    EXPECT_EQ(p.frame, c.frame);
    EXPECT_EQ(p.minDigits, c.digits);
    EXPECT_EQ(p.frameColour, c.frameColour);
    EXPECT_EQ(p.hasTz, c.hasTz);
  }
}

TEST(ParseParams, LitValidity) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"lit=0", true},
      {"lit=-00000012", true},
      {"lit=12345678901234567890123456789012", true},
      {"lit=-1234567890123456789012345678901", true},
      {"lit=123456789012345678901234567890123", false},
      {"lit=", false},
      {"lit=-", false},
      {"lit=+5", false},
      {"lit=1 2", false},
      {"lit=12a", false},
      {"lit=--1", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RenderParams p = ParseParams(c.text);
    EXPECT_TRUE(p.hasLit);
    EXPECT_EQ(p.litValid, c.valid);
    if (c.valid) {
      EXPECT_STREQ(p.lit, std::strchr(c.text, '=') + 1);
    }
  }
}

TEST(ParseParams, NameKeepsSeparatorsAndLimitsLength) {
  EXPECT_STREQ(ParseParams("df=a=b;c").name, "a=b;c");
  std::string longName = "df=" + std::string(256, 'x');
  RenderParams p = ParseParams(longName.c_str());
  EXPECT_TRUE(p.nameTooLong);
  EXPECT_STREQ(p.name, "");
  EXPECT_FALSE(ParseParams(("df=" + std::string(255, 'x')).c_str()).nameTooLong);
}

TEST(ParseParams, BackgroundNoneAndColourOverrideEachOther) {
  RenderParams p = ParseParams("bg=none");
  EXPECT_TRUE(p.transparent);
  p = ParseParams("bg=none,bg=9;9;9");
  EXPECT_FALSE(p.transparent);
  EXPECT_TRUE(p.hasBackground);
  p = ParseParams("bg=9;9;9,bg=NONE");
  EXPECT_TRUE(p.transparent);
  EXPECT_FALSE(p.hasBackground);
  p = ParseParams("bg=red");
  EXPECT_FALSE(p.transparent);
  EXPECT_FALSE(p.hasBackground);
}

}  // namespace
}  // namespace vormel

#include <gtest/gtest.h>

#include <string>

#include "manager/html_escape.h"
#include "manager/name_rules.h"

namespace vormel {
namespace {

TEST(HtmlEscapeTest, EscapesMarkupBytesAndKeepsTheRest) {
  HtmlStream stream(16);
  WriteEscaped(stream, "a&b<c>d\"e'f\x83\x65g");
  EXPECT_EQ(std::string(stream.data(), stream.length()), "a&amp;b&lt;c&gt;d&quot;e&#39;f\x83\x65g");
}

TEST(HtmlEscapeTest, LengthBoundsTheText) {
  HtmlStream stream(16);
  WriteEscaped(stream, "<ab>", 2);
  EXPECT_EQ(std::string(stream.data(), stream.length()), "&lt;a");
}

struct CleanCase {
  std::string input;
  std::string name;
  std::string description;
};

class CleanUpTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanUpTest, DropsBlanksAndIdeographicSpaces) {
  const CleanCase& c = GetParam();
  const CleanedText name = CleanName(c.input.c_str());
  const CleanedText description = CleanDescription(c.input.c_str());
  EXPECT_EQ(std::string(name.text, name.length), c.name);
  EXPECT_EQ(std::string(name.text), c.name);
  EXPECT_EQ(std::string(description.text, description.length), c.description);
}

const std::string k70(70, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanUpTest,
    ::testing::Values(CleanCase{"", "", ""}, CleanCase{"  two  words ", "twowords", "two  words "},
                      CleanCase{"\x81\x40 a\x81\x40"
                                "b\x81\x40",
                                "ab", "ab"},
                      // A lone 0x81 or 0x40 is an ordinary byte.
                      CleanCase{"\x81x\x40", "\x81x\x40", "\x81x\x40"},
                      CleanCase{k70, std::string(64, 'x'), std::string(64, 'x')},
                      // The cut counts kept bytes only and may split a two-byte character.
                      CleanCase{" " + std::string(63, 'y') + "\x83\x65",
                                std::string(63, 'y') + "\x83", std::string(63, 'y') + "\x83"}));

TEST(NameRulesTest, RefusesBytesWithAMeaningInTheFileOrTheUrl) {
  for (char c : std::string("=[];,&%+?#\"'<>\x01\t\n\r\x1f\x7f")) {
    const char name[] = {'a', c, 'b', '\0'};
    EXPECT_FALSE(IsAcceptableName(name)) << static_cast<int>(c);
  }
  EXPECT_TRUE(IsAcceptableName("Page-1_x.y/z:!@$^*()~`{}|\\"));
  // Shift-JIS second bytes may be '[' or ']'; a lone high byte does not hide a refused one.
  EXPECT_TRUE(IsAcceptableName("\x83\x65\x83\x58\x83\x67\x81\x5b\x81\x5d"));
  EXPECT_FALSE(IsAcceptableName("\x81="));
  EXPECT_FALSE(IsAcceptableName("\x81\x7f"));
  EXPECT_FALSE(IsAcceptableName("\xa0["));
  EXPECT_FALSE(IsAcceptableName("[\x81\x5b"));
}

TEST(NameRulesTest, RefusesControlBytesInDescriptions) {
  EXPECT_TRUE(IsAcceptableDescription("a = [b]; c, & 'd' <e> \x83\x65"));
  for (const char* desc : {"a\nb", "a\rb", "a\tb", "\x01", "a\x7f"}) {
    EXPECT_FALSE(IsAcceptableDescription(desc)) << desc;
  }
}

TEST(NameRulesTest, FirstByteTest) {
  EXPECT_FALSE(PassesFirstByteTest(""));
  EXPECT_FALSE(PassesFirstByteTest(" x"));
  EXPECT_FALSE(PassesFirstByteTest("\x01x"));
  EXPECT_FALSE(PassesFirstByteTest("\x1fx"));
  EXPECT_TRUE(PassesFirstByteTest("!"));
  EXPECT_TRUE(PassesFirstByteTest("\x7f"));
  EXPECT_TRUE(PassesFirstByteTest("\x83\x65"));
}

}  // namespace
}  // namespace vormel

#include "platform/ini_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vormel {
namespace {

using namespace std::string_view_literals;

// An administrator's file: comments, blanks, other sections, odd spacing.
constexpr std::string_view kFixture =
    "; Vormel settings\r\n"
    "[global]\r\n"
    "pass = secret \r\n"
    "\r\n"
    "[Counter]\r\n"
    "# first counters\r\n"
    "\tFoo\t=  12 \r\n"
    "foo=3\r\n"
    "note without equals\r\n"
    "Foo=99\r\n"
    "bar=\r\n"
    "\r\n"
    "[desc]\r\n"
    "Foo=home page,2024/01/02\r\n";

TEST(IniDocumentTest, RoundTripsEveryTextByteForByte) {
  for (std::string_view text : {""sv, "\n"sv, "\r\n"sv, "a=1"sv, "[s]\na=1\n"sv,
                                "\n\n[s]\r\nx\r\n;c"sv, "[s\nk=v\r\r\n"sv, kFixture}) {
    EXPECT_EQ(IniDocument::Parse(text).Serialize(), text) << text;
  }
}

TEST(IniDocumentTest, FindsValuesBySectionIgnoringCaseAndKeyExactly) {
  // A key above every section and a second [counter] section, which lookups never reach.
  const std::string text = "stray=1\r\n" + std::string(kFixture) + "[COUNTER]\r\nlate=1\r\n";
  const IniDocument parsed = IniDocument::Parse(text);
  // Lookups after an edit scan the lines until the index is rebuilt; all three must agree.
  IniDocument edited = parsed;
  ASSERT_TRUE(edited.Set("zz", "k", "v"));
  IniDocument reindexed = edited;
  reindexed.Reindex();
  struct Case {
    std::string_view section, key;
    std::optional<std::string_view> value;
  };
  const Case cases[] = {
      {"global", "pass", "secret"},      // blanks around the value dropped
      {"GLOBAL", "pass", "secret"},      // section case ignored
      {"counter", "Foo", "12"},          // tab and blanks around key and value; first line wins
      {"counter", "foo", "3"},           // keys are case-sensitive: a different counter
      {"counter", "FOO", std::nullopt},  // no such key
      {"counter", "bar", ""},            // present but empty
      {"counter", "note without equals", std::nullopt},
      {"counter", "pass", std::nullopt},  // belongs to another section
      {"counter", "late", std::nullopt},  // only the first [counter] section counts
      {"counter", "stray", std::nullopt},
      {"global", "stray", std::nullopt},
      {"desc", "Foo", "home page,2024/01/02"},
      {"desc", "Fo", std::nullopt},
      {"desc", "Fooo", std::nullopt},
      {"missing", "Foo", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parsed.Find(c.section, c.key), c.value) << c.section << "/" << c.key;
    EXPECT_EQ(edited.Find(c.section, c.key), c.value) << "edited " << c.section << "/" << c.key;
    EXPECT_EQ(reindexed.Find(c.section, c.key), c.value)
        << "reindexed " << c.section << "/" << c.key;
  }
  EXPECT_EQ(reindexed.Find("zz", "k"), "v");
}

TEST(IniDocumentTest, LookupsFollowEditsOfAnIndexedDocument) {
  IniDocument document = IniDocument::Parse("[c]\r\nb=2\r\na=1\r\n");
  ASSERT_TRUE(document.Set("c", "a", "10"));
  EXPECT_EQ(document.Find("c", "a"), "10");
  ASSERT_TRUE(document.Set("c", "0", "zero"));  // sorts before every other key
  ASSERT_TRUE(document.Remove("c", "b"));
  document.Reindex();
  EXPECT_EQ(document.Find("c", "0"), "zero");
  EXPECT_EQ(document.Find("c", "a"), "10");
  EXPECT_EQ(document.Find("c", "b"), std::nullopt);
}

TEST(IniDocumentTest, ReadsLfAndCrlfAlike) {
  for (std::string_view text : {"[s]\nk = v\nz=1\n"sv, "[s]\r\nk = v\r\nz=1\r\n"sv}) {
    const IniDocument document = IniDocument::Parse(text);
    EXPECT_EQ(document.Find("s", "k"), "v");
    EXPECT_EQ(document.Find("s", "z"), "1");
  }
}

TEST(IniDocumentTest, ParsesOnlyWellFormedLines) {
  struct Case {
    std::string_view text;
    std::vector<std::string_view> keys;
  };
  const Case cases[] = {
      {"[s]\n;a=1\n#b=2\nc=3\n", {"c"}},     // comments hold no keys
      {"[s]\n=orphan\n d =\n", {"d"}},       // an empty key is no key
      {"[s]\na=b=c\n", {"a"}},               // the key ends at the first '='
      {"k=0\n[s]\nx=1\n", {"x"}},            // keys before any section belong to none
      {"[s\nk=1\n[s]\nj=2\n", {"j"}},        // "[s" without ']' is no header
      {"[ s ]\nk=1\n", {"k"}},               // blanks inside the brackets dropped
      {"[s]\nb=1\na=2\nb=3\n", {"b", "a"}},  // file order; a duplicate once
      {"[s]\n[t]\nk=1\n", {}},               // the section ends at the next header
      {"[s]\na=1\n[S]\nb=2\n", {"a"}},       // only the first matching section counts
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IniDocument::Parse(c.text).Keys("s"), c.keys) << c.text;
  }
}

// Each edit must change exactly the expected bytes and nothing else.
TEST(IniDocumentTest, EditsTouchOnlyTheirLine) {
  struct Case {
    const char* name;
    std::string_view before;
    std::string_view section, key;
    std::optional<std::string_view> value;  // nullopt removes
    std::string_view after;
    bool changed;
  };
  const Case cases[] = {
      {"replace keeps the text before '='", "[s]\r\n  Foo = 1 \r\n;c\r\n", "S", "Foo", "7",
       "[s]\r\n  Foo =7\r\n;c\r\n", true},
      {"replace only the first duplicate", "[s]\nk=1\nk=2\n", "s", "k", "5", "[s]\nk=5\nk=2\n",
       true},
      {"same value is no change", "[s]\nk=5\n", "s", "k", "5", "[s]\nk=5\n", false},
      {"append after the last key, before blanks and comments", "[a]\nx=1\n;about b\n\n[b]\ny=2\n",
       "a", "z", "3", "[a]\nx=1\nz=3\n;about b\n\n[b]\ny=2\n", true},
      {"key case matters", "[s]\nfoo=1\n", "s", "Foo", "2", "[s]\nfoo=1\nFoo=2\n", true},
      {"empty section gets the key after its header", "[s]\n\n[t]\n", "s", "k", "v",
       "[s]\nk=v\n\n[t]\n", true},
      {"new section at the end, file's line ending", ";c\r\n[a]\r\nx=1\r\n", "b", "k", "v",
       ";c\r\n[a]\r\nx=1\r\n[b]\r\nk=v\r\n", true},
      {"last line without an ending gets one", "[s]\nx=1", "s", "k", "v", "[s]\nx=1\nk=v\n", true},
      {"new section after an unended line", "a=1", "s", "k", "v", "a=1\r\n[s]\r\nk=v\r\n", true},
      {"empty text gets the default ending", "", "s", "k", "v", "[s]\r\nk=v\r\n", true},
      {"empty value", "[s]\nk=1\n", "s", "k", "", "[s]\nk=\n", true},
      {"remove deletes every line of the key", "[s]\r\nk=1\r\n;c\r\nk=2\r\nj=3\r\n", "s", "k",
       std::nullopt, "[s]\r\n;c\r\nj=3\r\n", true},
      {"remove leaves other sections alone", "[s]\nk=1\n[t]\nk=2\n", "s", "k", std::nullopt,
       "[s]\n[t]\nk=2\n", true},
      {"remove of a missing key", "[s]\nk=1\n", "s", "K", std::nullopt, "[s]\nk=1\n", false},
      {"remove from a missing section", "[s]\nk=1\n", "t", "k", std::nullopt, "[s]\nk=1\n", false},
  };
  for (const Case& c : cases) {
    IniDocument document = IniDocument::Parse(c.before);
    const bool changed =
        c.value ? document.Set(c.section, c.key, *c.value) : document.Remove(c.section, c.key);
    EXPECT_EQ(document.Serialize(), c.after) << c.name;
    EXPECT_EQ(changed, c.changed) << c.name;
    // Whatever the edit, the key then reads back as what was written, or not at all.
    EXPECT_EQ(document.Find(c.section, c.key), c.value) << c.name;
  }
}

TEST(IniDocumentTest, RefusesNamesThatWouldNotReadBack) {
  struct Case {
    std::string_view text;
    bool section, key;
  };
  const Case cases[] = {
      {"counter", true, true}, {"a b", true, true},  {"", false, false},    {"a=b", true, false},
      {"a]", false, true},     {" a", false, false}, {"a\t", false, false}, {"a\nb", false, false},
      {"a\r", false, false},   {";a", true, false},  {"#a", true, false},   {"[a", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidIniSection(c.text), c.section) << c.text;
    EXPECT_EQ(IsValidIniKey(c.text), c.key) << c.text;
  }
  EXPECT_TRUE(IsValidIniValue(" x = y ; z "));
  EXPECT_FALSE(IsValidIniValue("x\n[global]\npass=1"));
  EXPECT_FALSE(IsValidIniValue("x\r"));
}

// The bytes written, including the sentinel bytes past them that must stay untouched.
std::string Written(const char* buffer, std::size_t size) { return std::string(buffer, size); }

TEST(CopyIniValueTest, CutsAtEveryBufferSize) {
  struct Case {
    std::size_t size;
    std::string_view written;  // then the rest of the buffer keeps its '#' fill
    std::size_t result;
  };
  const Case cases[] = {
      {0, "", 0},         {1, "\0"sv, 0},     {2, "a\0"sv, 1},    {4, "abc\0"sv, 3},
      {5, "abcd\0"sv, 4}, {6, "abcd\0"sv, 4}, {9, "abcd\0"sv, 4},
  };
  for (const Case& c : cases) {
    char buffer[10];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(CopyIniValue("abcd", buffer, c.size), c.result) << c.size;
    std::string expected(c.written);
    expected.resize(sizeof buffer, '#');
    EXPECT_EQ(Written(buffer, sizeof buffer), expected) << c.size;
  }
}

TEST(CopyIniKeyListTest, EndsWithTwoNulsAtEveryBufferSize) {
  const std::vector<std::string_view> names = {"ab", "c", "def"};  // "ab\0c\0def\0\0" is 10
  struct Case {
    std::size_t size;
    std::string_view written;
    std::size_t result;
  };
  const Case cases[] = {
      {0, "", 0},
      {1, "\0"sv, 0},
      {2, "\0\0"sv, 0},
      {3, "a\0\0"sv, 1},
      {4, "ab\0\0"sv, 2},
      {5, "ab\0\0\0"sv, 3},  // cut right after a name: its NUL, then the two closing ones
      {6, "ab\0c\0\0"sv, 4},
      {7, "ab\0c\0\0\0"sv, 5},
      {8, "ab\0c\0d\0\0"sv, 6},
      {9, "ab\0c\0de\0\0"sv, 7},    // the last name cut short
      {10, "ab\0c\0def\0\0"sv, 9},  // exactly fits whole
      {12, "ab\0c\0def\0\0"sv, 9},
  };
  for (const Case& c : cases) {
    char buffer[12];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(CopyIniKeyList(names, buffer, c.size), c.result) << c.size;
    std::string expected(c.written);
    expected.resize(sizeof buffer, '#');
    EXPECT_EQ(Written(buffer, sizeof buffer), expected) << c.size;
  }
}

TEST(CopyIniKeyListTest, EmptyListIsTwoNuls) {
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(CopyIniKeyList({}, buffer, sizeof buffer), 0u);
  EXPECT_EQ(Written(buffer, sizeof buffer), "\0\0##"sv);
}

}  // namespace
}  // namespace vormel

#include "renderer/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "renderer/render_block.h"
#include "tests/renderer/gif_decode.h"

namespace vormel {
namespace {

using testing::CompareGlyphs;
using testing::DecodeGif;

// A counter table laid out the way the store keeps it: names back to back, a stride per entry.
class Table {
 public:
  Table() {
    Add("sample", 41);
    Add(" one", 7);  // the deleted entry "gone"
    Add("Case", 10);
    Add("dup", 100);
    Add("dup", 200);
    Add("max", INT32_MAX);
    Add("neg", -5);
  }
  void Add(const char* name, std::int32_t value) {
    std::size_t n = std::strlen(name) + 1;
    std::memcpy(names_ + used_, name, n);
    values_[count_] = value;
    lengths_[count_] = static_cast<std::int32_t>(n);
    used_ += static_cast<int>(n);
    ++count_;
  }
  std::int32_t value(int i) const { return values_[i]; }
  int count() const { return count_; }
  RenderBlock Block(const char* parameters) {
    return {parameters, names_, values_, lengths_, 0xDEAD, 0, out_};
  }
  int Render(const char* parameters) {
    RenderBlock block = Block(parameters);
    return RenderRequest(block, 1718000000, FakeLocal);
  }
  const unsigned char* out() const { return out_; }
  static CivilTime FakeLocal(std::time_t) { return {1999, 12, 31, 23, 59, 58}; }

 private:
  char names_[8192] = {};
  std::int32_t values_[1000] = {};
  std::int32_t lengths_[1000] = {};
  int used_ = 0;
  int count_ = 0;
  unsigned char out_[kRenderOutputCapacity] = {};
};

TEST(Request, AdvanceRules) {
  struct Case {
    const char* parameters;
    int advanced;  // index of the entry that advances, -1 for none
    bool error;
  };
  const Case cases[] = {
      {"df=sample", 0, false},
      {"DF=sample,DD=b", 0, false},
      {"df=sample,display=counter", 0, false},
      {"df=sample,count=yes", 0, false},
      {"df=sample,count=maybe", 0, false},
      {"df=sample,,junk,=x,zz=1", 0, false},
      {"dd=c,df=sample,digits=9,group=yes,ft=0", 0, false},
      {"df=sample,count=no", -1, false},
      {"df=sample,COUNT=No", -1, false},
      {"df=sample,lit=5", -1, false},
      {"lit=5,df=sample", -1, false},
      {"df=sample,lit=x", -1, true},
      {"df=sample,display=date", -1, false},
      {"df=sample,display=clock", -1, false},
      {"df=Sample", -1, true},
      {"df=sampl", -1, true},
      {"df=samplex", -1, true},
      {"df=case", -1, true},
      {"df=Case", 2, false},
      {"df=dup", 3, false},
      {"df= one", -1, true},
      {"df=one", -1, true},
      {"df=gone", -1, true},
      {"df=", -1, true},
      {"", -1, true},
      {"df=neg", 6, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    Table table;
    Table before;
    int n = table.Render(c.parameters);
    ASSERT_GT(n, 0);
    ASSERT_LE(n, kRenderOutputCapacity);
    for (int i = 0; i < table.count(); ++i) {
      EXPECT_EQ(table.value(i), before.value(i) + (i == c.advanced ? 1 : 0)) << "entry " << i;
    }
    testing::DecodedGif image = DecodeGif(table.out(), n);
    ASSERT_TRUE(image.ok);
    int style = std::string(c.parameters).find("dd=c") != std::string::npos ? 2 : 0;
    int frame = std::string(c.parameters).find("ft=0") != std::string::npos ? 0 : 2;
    EXPECT_EQ(CompareGlyphs(image, style, frame, "?") == "", c.error);
  }
}

TEST(Request, DrawsTheAdvancedValue) {
  struct Case {
    const char* parameters;
    const char* drawn;
  };
  const Case cases[] = {
      {"df=sample", "42"},
      {"df=sample,count=no", "41"},
      {"df=sample,digits=8", "00000042"},
      {"df=max", "2147483647"},
      {"df=max,group=yes", "2,147,483,647"},
      {"df=neg", "-4"},
      {"df=dup,digits=4", "0101"},
      {"df=sample,lit=-00000012", "-00000012"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    Table table;
    int n = table.Render(c.parameters);
    EXPECT_EQ(CompareGlyphs(DecodeGif(table.out(), n), 0, 2, c.drawn), "");
  }
}

TEST(Request, SaturatesAtTheLargestValue) {
  Table table;
  for (int i = 0; i < 3; ++i) table.Render("df=max");
  EXPECT_EQ(table.value(5), INT32_MAX);
}

TEST(Request, DateAndClockForAFixedTime) {
  // 1718000000 is 2024-06-10 06:13:20 UTC.
  struct Case {
    const char* parameters;
    const char* drawn;
  };
  const Case cases[] = {
      {"display=date,tz=+0000", "2024/06/10"},
      {"display=date,tz=-0700", "2024/06/09"},
      {"display=date,tz=+0900,datefmt=mdy", "06/10/2024"},
      {"display=date,tz=+0900,datefmt=dmy", "10/06/2024"},
      {"display=clock,tz=+0000", "06:13"},
      {"display=clock,tz=+0930", "15:43"},
      {"display=clock,tz=-0630", "23:43"},
      {"display=clock,tz=+0900,hours=12", "3:13"},
      {"display=clock,tz=+0600,hours=12", "12:13"},
      {"display=clock,tz=-0615,hours=12", "11:58"},
      {"display=date", "1999/12/31"},  // the injected local clock
      {"display=clock", "23:59"},
      {"display=clock,tz=bogus", "23:59"},
      {"display=date,df=sample,lit=1", "1999/12/31"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    Table table;
    int n = table.Render(c.parameters);
    EXPECT_EQ(CompareGlyphs(DecodeGif(table.out(), n), 0, 2, c.drawn), "");
    EXPECT_EQ(table.value(0), 41);
  }
}

TEST(CivilTime, ConvertsAcrossYearsAndLeapDays) {
  struct Case {
    std::time_t t;
    int offset;
    CivilTime expected;
  };
  const Case cases[] = {
      {0, 0, {1970, 1, 1, 0, 0, 0}},           {0, -60, {1969, 12, 31, 23, 0, 0}},
      {951782400, 0, {2000, 2, 29, 0, 0, 0}},  {4107542399, 0, {2100, 2, 28, 23, 59, 59}},
      {1709251199, 1, {2024, 3, 1, 0, 0, 59}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    CivilTime t = CivilAtOffset(c.t, c.offset);
    EXPECT_EQ(t.year, c.expected.year);
    EXPECT_EQ(t.month, c.expected.month);
    EXPECT_EQ(t.day, c.expected.day);
    EXPECT_EQ(t.hour, c.expected.hour);
    EXPECT_EQ(t.minute, c.expected.minute);
    EXPECT_EQ(t.second, c.expected.second);
  }
}

TEST(Request, EndsTheWalkAtAZeroLength) {
  Table table;
  // A name past the terminating zero length is never reached.
  RenderBlock block = table.Block("df=hidden");
  std::int32_t lengths[1000] = {7, 0, 7};
  char names[8192] = "sample\0hidden";
  block.names = names;
  block.nameLengths = lengths;
  std::int32_t values[1000] = {1, 2, 3};
  block.values = values;
  int n = RenderRequest(block, 0, Table::FakeLocal);
  EXPECT_EQ(CompareGlyphs(DecodeGif(block.output, n), 0, 2, "?"), "");
  EXPECT_EQ(values[1], 2);
  EXPECT_EQ(values[2], 3);
}

TEST(Counter2, ManyThreadsLoseNoAdvance) {
  Table table;
  constexpr int kThreads = 4;
  constexpr int kCalls = 300;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      unsigned char out[kRenderOutputCapacity];
      for (int i = 0; i < kCalls; ++i) {
        RenderBlock block = table.Block(t % 2 == 0 ? "df=sample,dd=a" : "df=sample,dd=h,ft=5");
        block.output = out;
        std::int32_t n = Counter2(&block);
        if (n <= 0 || n > kRenderOutputCapacity || !DecodeGif(out, n).ok) ++failures[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(table.value(0), 41 + kThreads * kCalls);
  for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(Counter2, NullBlockOrOutputWritesNothing) {
  EXPECT_EQ(Counter2(nullptr), 0);
  Table table;
  RenderBlock block = table.Block("df=sample");
  block.output = nullptr;
  EXPECT_EQ(Counter2(&block), 0);
  EXPECT_EQ(table.value(0), 41);
}

}  // namespace
}  // namespace vormel

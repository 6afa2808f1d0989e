#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "store/counter_extension.h"
#include "store/decimal.h"
#include "store/value_slot.h"
#include "tests/support/temp_home.h"

namespace vormel {
namespace {

using testing::TempHome;

std::string ValueInFile(const std::string& path, const char* key) {
  char value[64];
  GetProfileString("counter", key, "<missing>", value, sizeof value, path.c_str());
  return value;
}

TEST(DecimalTest, ConversionTable) {
  struct Case {
    const char* text;
    std::int32_t value;
  } cases[] = {{"12abc", 12},
               {" 7", 7},
               {"-3", -3},
               {"", 0},
               {"xyz", 0},
               {"\t\n+42", 42},
               {"- 5", 0},
               {"--5", 0},
               {"007", 7},
               {"2147483647", 2147483647},
               {"99999999999", std::numeric_limits<std::int32_t>::max()},
               {"-99999999999", std::numeric_limits<std::int32_t>::min()}};
  for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << c.text;

  for (std::int32_t v : {0, -5, 44, std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max()}) {
    char text[32];
    FormatDecimal(v, text, sizeof text);
    EXPECT_EQ(ParseDecimal(text), v);
    EXPECT_EQ(std::string(text), std::to_string(v));
  }
}

TEST(CommitIntervalTest, Table) {
  struct Case {
    const char* text;
    std::int32_t ms;
  } cases[] = {{"0", 1000},
               {"-5", 1000},
               {"abc", 1000},
               {"", 1000},
               {"1", 1000},
               {"2", 2000},
               {"60", 60000},
               {"15 s", 15000},
               {"2147483", 2147483000},
               {"2147484", std::numeric_limits<std::int32_t>::max()},
               {"99999999999999", std::numeric_limits<std::int32_t>::max()}};
  for (const Case& c : cases) EXPECT_EQ(CommitIntervalFromText(c.text), c.ms) << c.text;
}

class StoreTest : public ::testing::Test {
 protected:
  TempHome home_;
};

TEST_F(StoreTest, MissingFileGivesDefaults) {
  CounterExtension server;
  EXPECT_STREQ(server.password, kDefaultPassword);
  EXPECT_EQ(std::strlen(server.password), 1u);
  EXPECT_STREQ(server.bin, "cgi-bin");
  EXPECT_STREQ(server.head, "");
  EXPECT_STREQ(server.foot, "");
  EXPECT_EQ(server.commitIntervalMs, 1000);
  EXPECT_EQ(server.table.count, 0);
  EXPECT_EQ(server.settingsPath, home_.settingsPath());
  for (char c : server.table.names) ASSERT_EQ(c, '\0');
}

TEST_F(StoreTest, LoadsSettingsWithCuts) {
  home_.WriteSettings("[global]\npass=" + std::string(100, 'p') +
                      "\nbin=scripts\nhead=<h1>x</h1>\n"
                      "commit=15 s\n");
  CounterExtension server;
  EXPECT_EQ(std::string(server.password), std::string(79, 'p'));
  EXPECT_STREQ(server.bin, "scripts");
  EXPECT_STREQ(server.head, "<h1>x</h1>");
  EXPECT_EQ(server.commitIntervalMs, 15000);
}

TEST_F(StoreTest, LoadsCountersInFileOrder) {
  home_.WriteSettings("[counter]\na=5\nb=\nc=xyz\nd=-3\ne=12abc\n");
  CounterExtension server;
  const CounterTable& t = server.table;
  ASSERT_EQ(t.count, 5);
  const std::int32_t expected[] = {5, 0, 0, -3, 12};
  const char* names[] = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(t.values[i], expected[i]);
    EXPECT_EQ(t.committedValues[i], expected[i]);
    EXPECT_EQ(t.nameLengths[i], 2);
    EXPECT_STREQ(t.names + 2 * i, names[i]);
  }
  EXPECT_EQ(t.nameLengths[5], 0);
  for (int i = 10; i < kNamesCapacity; ++i) ASSERT_EQ(t.names[i], '\0');
  EXPECT_EQ(std::memcmp(t.values, t.committedValues, sizeof t.values), 0);
}

TEST_F(StoreTest, LookupIsExactAndSkipsDeleted) {
  home_.WriteSettings("[counter]\nFoo=1\nfoo=2\nabcdefghij=3\n");
  CounterExtension server;
  CounterTable& t = server.table;
  EXPECT_EQ(t.nameLengths[2], 11);
  EXPECT_EQ(t.FindCounter("Foo"), 0);
  EXPECT_EQ(t.FindCounter("foo"), 1);
  EXPECT_EQ(t.FindCounter("FOO"), -1);
  EXPECT_EQ(t.FindCounter("foo "), -1);
  EXPECT_EQ(t.FindCounter("abcdefghij"), 2);
  t.MarkDeleted(1);
  EXPECT_EQ(t.FindCounter("foo"), -1);
  EXPECT_STREQ(t.names + 4, " oo");
  EXPECT_EQ(t.count, 3);
  EXPECT_EQ(t.nameLengths[1], 4);
}

TEST_F(StoreTest, LoadStopsAtCapacity) {
  std::string text = "[counter]\n";
  for (int i = 0; i < 1200; ++i) text += "c" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  home_.WriteSettings(text);
  CounterExtension server;
  EXPECT_EQ(server.table.count, kMaxCounters);
  EXPECT_EQ(server.table.values[999], 999);
  EXPECT_LE(server.table.NamesUsed(), kNamesCapacity);
}

TEST_F(StoreTest, LoadDropsNameCutByFullBuffer) {
  std::string text = "[counter]\n";
  for (int i = 0; i < 200; ++i) text += std::string(60, 'n') + std::to_string(1000 + i) + "=7\n";
  home_.WriteSettings(text);
  CounterExtension server;
  const CounterTable& t = server.table;
  ASSERT_GT(t.count, 0);
  EXPECT_LT(t.count, 200);
  const char* cursor = t.names;
  for (int i = 0; i < t.count; ++i) {
    EXPECT_EQ(std::strlen(cursor), 64u) << i;
    EXPECT_EQ(t.values[i], 7);
    cursor += t.nameLengths[i];
  }
  EXPECT_LE(t.NamesUsed(), kNamesCapacity);
  for (int i = t.NamesUsed(); i < kNamesCapacity; ++i) ASSERT_EQ(t.names[i], '\0');
}

struct PassFixture : StoreTest {
  void SetUp() override { home_.WriteSettings("[counter]\na=41\nb=0\nc=7\n"); }
};

TEST_F(PassFixture, WritesOnlyChangedValuesOnce) {
  CounterExtension server;
  CommitParams& params = server.commitParams();
  EXPECT_EQ(CommitPass(params), 0);

  CounterTable& t = server.table;
  for (int k = 0; k < 3; ++k) AdvanceValue(t.values[0]);
  StoreValue(t.values[1], -5);
  EXPECT_EQ(CommitPass(params), 2);
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "a"), "44");
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "b"), "-5");
  EXPECT_EQ(t.committedValues[0], 44);
  EXPECT_EQ(CommitPass(params), 0);

  // A deleted entry (value and committed value 0) is not written again.
  {
    std::unique_lock<std::shared_mutex> guard(t.lock);
    t.MarkDeleted(2);
    WriteProfileString("counter", "c", nullptr, server.settingsPath);
  }
  EXPECT_EQ(CommitPass(params), 0);
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "c"), "<missing>");
}

TEST_F(PassFixture, FollowsEntriesAddedAfterStart) {
  CounterExtension server;
  CounterTable& t = server.table;
  {
    std::unique_lock<std::shared_mutex> guard(t.lock);
    ASSERT_TRUE(t.Append("late"));
  }
  AdvanceValue(t.values[3]);
  EXPECT_EQ(CommitPass(server.commitParams()), 1);
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "late"), "1");
}

TEST_F(PassFixture, FailedWriteIsRetried) {
  CounterExtension server;
  CounterTable& t = server.table;
  AdvanceValue(t.values[2]);
  std::string saved = home_.ReadSettings();
  // A directory in the file's place makes every replacement fail, for root too.
  ASSERT_EQ(std::rename(home_.settingsPath().c_str(), (home_.dir() + "/saved").c_str()), 0);
  ASSERT_EQ(::mkdir(home_.settingsPath().c_str(), 0700), 0);
  EXPECT_EQ(CommitPass(server.commitParams()), -1);
  EXPECT_EQ(t.committedValues[2], 7);
  EXPECT_EQ(server.commitParams().failedPasses.load(), 1u);

  ASSERT_EQ(::rmdir(home_.settingsPath().c_str()), 0);
  home_.WriteSettings(saved);
  EXPECT_EQ(CommitPass(server.commitParams()), 1);
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "c"), "8");
  EXPECT_EQ(t.committedValues[2], 8);
}

TEST_F(PassFixture, UnloadRunsFinalPassPromptly) {
  auto start = std::chrono::steady_clock::now();
  {
    home_.WriteSettings("[global]\ncommit=3600\n[counter]\na=41\n");
    CounterExtension server;
    for (int i = 0; i < 5; ++i) AdvanceValue(server.table.values[0]);
  }
  // Far less than the 10.1 s bound: the destructor went on as soon as the thread finished.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "a"), "46");
  CounterExtension reloaded;
  EXPECT_EQ(reloaded.table.values[0], 46);
}

TEST_F(PassFixture, ThreadCommitsAfterOneInterval) {
  CounterExtension server;
  AdvanceValue(server.table.values[0]);
  for (int i = 0; i < 40 && ValueInFile(home_.settingsPath(), "a") != "42"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(ValueInFile(home_.settingsPath(), "a"), "42");
}

// Many threads advance counters through the renderer's atomic path while another appends and
// deletes entries and the commit thread runs: after unload the file holds every advance.
TEST_F(StoreTest, ConcurrentAdvancesAreAllCommitted) {
  std::string text = "[counter]\n";
  for (int i = 0; i < 8; ++i) text += "hot" + std::to_string(i) + "=0\n";
  home_.WriteSettings(text);
  constexpr int kThreads = 4;
  constexpr int kAdvances = 20000;
  {
    CounterExtension server;
    CounterTable& t = server.table;
    std::atomic<bool> stop{false};
    std::thread churn([&] {
      for (int n = 0; !stop.load(); ++n) {
        std::string name = "tmp" + std::to_string(n);
        std::unique_lock<std::shared_mutex> guard(t.lock);
        if (!t.Append(name.c_str())) break;
        WriteProfileString("counter", name.c_str(), "0", server.settingsPath);
        if (n % 2 == 0) {
          t.MarkDeleted(t.FindCounter(name.c_str()));
          WriteProfileString("counter", name.c_str(), nullptr, server.settingsPath);
        }
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w) {
      workers.emplace_back([&, w] {
        for (int k = 0; k < kAdvances; ++k) {
          std::shared_lock<std::shared_mutex> guard(t.lock);
          AdvanceValue(t.values[(w + k) % 8]);
        }
      });
    }
    for (std::thread& worker : workers) worker.join();
    stop = true;
    churn.join();
  }
  CounterExtension reloaded;
  std::int64_t total = 0;
  for (int i = 0; i < 8; ++i) {
    std::string name = "hot" + std::to_string(i);
    int index = reloaded.table.FindCounter(name.c_str());
    ASSERT_GE(index, 0);
    EXPECT_EQ(reloaded.table.values[index], kThreads * kAdvances / 8);
    total += reloaded.table.values[index];
  }
  EXPECT_EQ(total, kThreads * kAdvances);
}

TEST(ValueSlotTest, AdvanceSaturates) {
  std::int32_t slot = std::numeric_limits<std::int32_t>::max() - 1;
  EXPECT_EQ(AdvanceValue(slot), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(AdvanceValue(slot), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(slot, std::numeric_limits<std::int32_t>::max());
}

TEST(CounterTableTest, AppendRespectsBothCapacities) {
  auto table = std::make_unique<CounterTable>();
  std::string name(63, 'x');
  int appended = 0;
  while (table->Append((name + std::to_string(appended % 10)).c_str())) ++appended;
  EXPECT_EQ(appended, kNamesCapacity / 65);
  EXPECT_LE(table->NamesUsed(), kNamesCapacity);

  auto small = std::make_unique<CounterTable>();
  for (int i = 0; i < kMaxCounters; ++i) ASSERT_TRUE(small->Append("a"));
  EXPECT_FALSE(small->Append("b"));
  EXPECT_EQ(small->count, kMaxCounters);
}

}  // namespace
}  // namespace vormel

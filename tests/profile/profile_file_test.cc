#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ini_text.h"
#include "platform/profile.h"

namespace vormel {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string Get(const std::string& path, const char* section, const char* key,
                const char* defaultText = "?", std::size_t size = 256) {
  std::vector<char> buffer(size + 1, '#');
  const std::size_t length =
      GetProfileString(section, key, defaultText, buffer.data(), size, path.c_str());
  return std::string(buffer.data(), length);
}

// The key-less read as the loader walks it: names up to the first empty one.
std::vector<std::string> Keys(const std::string& path, const char* section) {
  char buffer[8192];
  GetProfileString(section, nullptr, "", buffer, sizeof buffer, path.c_str());
  std::vector<std::string> names;
  for (const char* cursor = buffer; *cursor != '\0'; cursor += names.back().size() + 1) {
    names.emplace_back(cursor);
  }
  return names;
}

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vormel-profile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/vormel.ini";
  }
  void TearDown() override {
    chmod(dir_.c_str(), 0755);
    fs::remove_all(dir_);
  }
  // Everything in the directory besides the settings file: leftovers of a replacement.
  std::vector<std::string> Strays() const {
    std::vector<std::string> strays;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path() != path_) strays.push_back(entry.path().filename().string());
    }
    return strays;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(ProfileFileTest, CreatesFileAndSections) {
  EXPECT_EQ(Get(path_, "counter", "a"), "?");
  ASSERT_TRUE(WriteProfileString("counter", "a", "1", path_.c_str()));
  EXPECT_EQ(ReadFile(path_), "[counter]\r\na=1\r\n");
  ASSERT_TRUE(WriteProfileString("desc", "a", "x,2024/01/02", path_.c_str()));
  ASSERT_TRUE(WriteProfileString("COUNTER", "b", "2", path_.c_str()));
  EXPECT_EQ(ReadFile(path_), "[counter]\r\na=1\r\nb=2\r\n[desc]\r\na=x,2024/01/02\r\n");
  EXPECT_EQ(Get(path_, "Counter", "b"), "2");
  EXPECT_EQ(Keys(path_, "counter"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(Strays().empty());
}

TEST_F(ProfileFileTest, MissingFileGivesDefaults) {
  EXPECT_EQ(Get(path_, "global", "bin", "cgi-bin"), "cgi-bin");
  EXPECT_EQ(Get(path_, "global", "bin", "cgi-bin", 4), "cgi");
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetProfileString("counter", nullptr, "", buffer, sizeof buffer, path_.c_str()), 0u);
  EXPECT_EQ(std::string(buffer, 4), std::string("\0\0##", 4));
  EXPECT_EQ(GetProfileString("counter", "a", "x", buffer, 0, path_.c_str()), 0u);
  EXPECT_EQ(std::string(buffer, 4), std::string("\0\0##", 4));
}

TEST_F(ProfileFileTest, RemovingWhatIsMissingChangesNothing) {
  EXPECT_TRUE(WriteProfileString("counter", "a", nullptr, path_.c_str()));
  EXPECT_FALSE(fs::exists(path_));

  const std::string text = "; keep\n[counter]\nb=1\n";
  WriteFile(path_, text);
  struct stat before;
  ASSERT_EQ(stat(path_.c_str(), &before), 0);
  EXPECT_TRUE(WriteProfileString("counter", "a", nullptr, path_.c_str()));
  EXPECT_TRUE(WriteProfileString("desc", "b", nullptr, path_.c_str()));
  struct stat after;
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // not even rewritten
  EXPECT_EQ(ReadFile(path_), text);
}

TEST_F(ProfileFileTest, RefusesLineBreaksThatWouldInjectSettings) {
  WriteFile(path_, "[global]\npass=secret\n");
  EXPECT_FALSE(WriteProfileString("desc", "a", "x\n[global]\npass=1", path_.c_str()));
  EXPECT_FALSE(WriteProfileString("desc", "a=b", "1", path_.c_str()));
  const ProfileChange batch[] = {{"ok", "1"}, {"bad\r\nkey", "2"}};
  EXPECT_FALSE(WriteProfileStrings("desc", batch, path_.c_str()));
  EXPECT_EQ(ReadFile(path_), "[global]\npass=secret\n");  // nothing of the batch applied
}

TEST_F(ProfileFileTest, BatchGivesTheFileOfOneWritePerChange) {
  const std::string start =
      "; settings\n[global]\npass=x\n\n[counter]\n# hits\nFoo = 1\nfoo=2\nold=9\n\n[desc]\nFoo=a\n";
  const ProfileChange changes[] = {
      {"Foo", "10"}, {"new", "0"},      {"old", nullptr}, {"foo", "20"},
      {"new", "5"},  {"gone", nullptr}, {"old", "3"},
  };
  const std::string single = dir_ + "/single.ini";
  WriteFile(single, start);
  WriteFile(path_, start);
  for (const ProfileChange& change : changes) {
    ASSERT_TRUE(WriteProfileString("counter", change.key, change.value, single.c_str()));
  }
  ASSERT_TRUE(WriteProfileStrings("counter", changes, path_.c_str()));
  EXPECT_EQ(ReadFile(path_), ReadFile(single));
  EXPECT_EQ(ReadFile(path_),
            "; settings\n[global]\npass=x\n\n[counter]\n# hits\nFoo =10\nfoo=20\nnew=5\nold=3\n"
            "\n[desc]\nFoo=a\n");
}

TEST_F(ProfileFileTest, HandEditIsSeenByTheNextRead) {
  WriteFile(path_, "[counter]\na=111\n");
  EXPECT_EQ(Get(path_, "counter", "a"), "111");
  struct stat before;
  ASSERT_EQ(stat(path_.c_str(), &before), 0);

  // Same inode, same size: only the times tell.
  WriteFile(path_, "[counter]\na=222\n");
  const timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 5, before.st_mtim.tv_nsec}};
  ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
  struct stat edited;
  ASSERT_EQ(stat(path_.c_str(), &edited), 0);
  ASSERT_EQ(edited.st_ino, before.st_ino);
  ASSERT_EQ(edited.st_size, before.st_size);
  EXPECT_EQ(Get(path_, "counter", "a"), "222");

  // An editor that saves by renaming gives a new inode.
  const std::string saved = dir_ + "/saved";
  WriteFile(saved, "[counter]\na=333\n");
  ASSERT_EQ(rename(saved.c_str(), path_.c_str()), 0);
  EXPECT_EQ(Get(path_, "counter", "a"), "333");

  // A write after the edit starts from the edited file.
  ASSERT_TRUE(WriteProfileString("counter", "b", "1", path_.c_str()));
  EXPECT_EQ(ReadFile(path_), "[counter]\na=333\nb=1\n");

  fs::remove(path_);
  EXPECT_EQ(Get(path_, "counter", "a"), "?");
}

TEST_F(ProfileFileTest, KeepsTheModeOfTheReplacedFile) {
  WriteFile(path_, "[global]\npass=secret\n");
  ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
  ASSERT_TRUE(WriteProfileString("counter", "a", "1", path_.c_str()));
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(ProfileFileTest, UnwritableDirectoryLeavesTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only directory";
  const std::string text = "[counter]\na=1\n";
  WriteFile(path_, text);
  ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
  EXPECT_FALSE(WriteProfileString("counter", "a", "2", path_.c_str()));
  EXPECT_EQ(ReadFile(path_), text);
  EXPECT_EQ(Get(path_, "counter", "a"), "1");
}

// A full disk, as the file size limit makes it for root too: the write of the temporary file
// fails halfway. Run in a child so the limit does not reach the rest of the tests.
TEST_F(ProfileFileTest, FullDiskLeavesTheOldFileAndNoTemporary) {
  const std::string text = "; keep\n[counter]\na=1\n";
  WriteFile(path_, text);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string big(20000, 'x');
    _exit(WriteProfileString("counter", "a", big.c_str(), path_.c_str()) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the write reported success";
  EXPECT_EQ(ReadFile(path_), text);
  EXPECT_TRUE(Strays().empty());
}

std::string KeyName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "k%04d", i);
  return name;
}

// Version v of a large file: every one of 1000 keys holds v, padded so the file is ~70 KB.
std::string VersionValue(int version) {
  return std::to_string(version) + "-" + std::string(50, 'p');
}
std::string VersionText(int version) {
  std::string text = "; written by the crash test\r\n[counter]\r\n";
  for (int i = 0; i < 1000; ++i) text += KeyName(i) + "=" + VersionValue(version) + "\r\n";
  return text;
}

[[noreturn]] void RewriteForever(const std::string& path) {
  char current[64];
  GetProfileString("counter", KeyName(0).c_str(), "0", current, sizeof current, path.c_str());
  std::vector<std::string> keys;
  for (int i = 0; i < 1000; ++i) keys.push_back(KeyName(i));
  for (int version = std::atoi(current) + 1;; ++version) {
    const std::string value = VersionValue(version);
    std::vector<ProfileChange> changes;
    for (const std::string& key : keys) changes.push_back({key.c_str(), value.c_str()});
    if (!WriteProfileStrings("counter", changes, path.c_str())) _exit(2);
  }
}

TEST_F(ProfileFileTest, KilledWriterNeverLeavesATornFile) {
  WriteFile(path_, VersionText(0));
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // One rewrite takes from a few ms (release) to ~200 ms (sanitizers); kill anywhere in it.
  std::uniform_int_distribution<int> delayUs(0, 300000);
  std::set<int> versionsSeen;
  for (int round = 0; round < 20; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) RewriteForever(path_);
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + delayUs(random)));
    ASSERT_EQ(kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";

    const std::string text = ReadFile(path_);
    const IniDocument document = IniDocument::Parse(text);
    const auto first = document.Find("counter", KeyName(0));
    ASSERT_TRUE(first.has_value()) << "round " << round;
    const int version = std::atoi(std::string(*first).c_str());
    ASSERT_EQ(text, VersionText(version)) << "round " << round;
    versionsSeen.insert(version);
  }
  // The kills landed while versions were being written, not all before the first one.
  EXPECT_GT(versionsSeen.size(), 1u);
}

TEST_F(ProfileFileTest, ConcurrentWritersKeepEveryKey) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 25;
  constexpr int kRounds = 4;
  WriteFile(path_, "; shared\n[counter]\n");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (int k = 0; k < kKeys; ++k) {
          const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
          const std::string value = std::to_string(round * 1000 + k);
          EXPECT_TRUE(WriteProfileString("counter", key.c_str(), value.c_str(), path_.c_str()));
        }
      }
    });
  }
  std::thread reader([this] {
    for (int i = 0; i < 200; ++i) Get(path_, "counter", "t0k0");
  });
  for (std::thread& thread : threads) thread.join();
  reader.join();

  const IniDocument document = IniDocument::Parse(ReadFile(path_));
  EXPECT_EQ(document.Keys("counter").size(), static_cast<std::size_t>(kThreads * kKeys));
  for (int t = 0; t < kThreads; ++t) {
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "t" + std::to_string(t) + "k" + std::to_string(k);
      const std::string last = std::to_string((kRounds - 1) * 1000 + k);
      EXPECT_EQ(document.Find("counter", key), last) << key;
      EXPECT_EQ(Get(path_, "counter", key.c_str()), last) << key;
    }
  }
  EXPECT_TRUE(Strays().empty());
}

}  // namespace
}  // namespace vormel

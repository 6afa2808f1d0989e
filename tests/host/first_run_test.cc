// First run creates the settings file with a fresh password once and never overwrites it.
#include "host/first_run.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace vormel {
namespace {

class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vormel-first-run-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  std::string Settings() {
    std::ifstream file(home_ + "/vormel.ini");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::string home_;
};

TEST_F(FirstRunTest, CreatesOnceWithARandomPassword) {
  FirstRunResult first = EnsureSettingsFile(home_);
  ASSERT_TRUE(first.ok) << first.error;
  ASSERT_TRUE(first.new_password.has_value());
  EXPECT_TRUE(std::regex_match(*first.new_password, std::regex("[A-Za-z0-9]{16}")));
  std::string text = Settings();
  EXPECT_TRUE(std::regex_match(
      text, std::regex("\\[global\\]\npass=" + *first.new_password +
                       "\n\\[counter\\]\nsample=0\n\\[desc\\]\nsample=Sample counter,"
                       "[0-9]{4}/[0-9]{2}/[0-9]{2}\n")));
  struct stat info {};
  ASSERT_EQ(stat((home_ + "/vormel.ini").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  FirstRunResult second = EnsureSettingsFile(home_);
  EXPECT_TRUE(second.ok);
  EXPECT_FALSE(second.new_password.has_value());
  EXPECT_EQ(Settings(), text);
}

TEST_F(FirstRunTest, ExistingFileIsNeverTouched) {
  { std::ofstream(home_ + "/vormel.ini") << "[global]\npass=mine\n[counter]\nsample=5\n"; }
  FirstRunResult result = EnsureSettingsFile(home_);
  EXPECT_TRUE(result.ok);
  EXPECT_FALSE(result.new_password.has_value());
  EXPECT_EQ(Settings(), "[global]\npass=mine\n[counter]\nsample=5\n");
}

TEST_F(FirstRunTest, UnwritableHomeIsAnError) {
  FirstRunResult result = EnsureSettingsFile(home_ + "/missing/dir");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("cannot create"), std::string::npos);
}

TEST(RandomPasswordTest, DrawsEveryCharacterAndRepeatsNothing) {
  std::set<std::string> seen;
  std::set<char> characters;
  for (int i = 0; i < 200; ++i) {
    std::string password = RandomPassword(16);
    ASSERT_EQ(password.size(), 16u);
    seen.insert(password);
    characters.insert(password.begin(), password.end());
  }
  EXPECT_EQ(seen.size(), 200u);
  EXPECT_EQ(characters.size(), 62u);  // 3200 draws over 62 characters leave none out
}

}  // namespace
}  // namespace vormel

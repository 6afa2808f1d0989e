#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>

#include "tests/manager/manager_fixture.h"

namespace vormel::testing {
namespace {

constexpr char kPass[] = "Pass Word";
const std::string kIni =
    "[global]\r\npass=Pass Word\r\n"
    "[counter]\r\nalpha=5\r\nneg=-7\r\n"
    "[desc]\r\nalpha=Alpha,1999/01/01\r\nneg=Neg,1999/01/02\r\n";
const std::string kSlots = "alpha=5;neg=-7;";
const std::string kCounter = "alpha=5;neg=-7;";
const std::string kDesc = "alpha=Alpha,1999/01/01;neg=Neg,1999/01/02;";

struct CommandCase {
  const char* label;
  std::string type, name, desc, pass;
  std::string message;  // "<auth>": the authorization-failure page
  // Expected table slots, sections of the file, and slots after a reload; empty: unchanged.
  std::string slots, counter, descs, reloaded;
};

const std::string k64(64, 'n');
const std::string kSjis = "\x83\x65\x83\x58\x83\x67";  // three Shift-JIS characters

CommandCase Unchanged(const char* label, std::string type, std::string name, std::string desc,
                      std::string pass, std::string message) {
  return {label, type, name, desc, pass, message, "", "", "", ""};
}

CommandCase Added(const char* label, std::string name, std::string desc, std::string key,
                  std::string stored) {
  return {label,
          "add",
          name,
          desc,
          kPass,
          "Counter Added!",
          kSlots + key + "=0;",
          kCounter + key + "=0;",
          kDesc + key + "=" + stored + ";",
          kSlots + key + "=0;"};
}

CommandCase Reset(const char* label, std::string name, std::string desc, std::string text,
                  int value) {
  const std::string v = std::to_string(value);
  return {label,
          "reset",
          name,
          desc,
          kPass,
          "Counter Reset!",
          "alpha=" + v + ";neg=-7;",
          "alpha=" + text + ";neg=-7;",
          kDesc,
          "alpha=" + v + ";neg=-7;"};
}

class CommandTest : public ManagerTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, MessageTableAndFile) {
  const CommandCase& c = GetParam();
  Start(kIni);
  const std::string page =
      CommandPage(c.type.c_str(), c.name.c_str(), c.desc.c_str(), c.pass.c_str());
  EXPECT_EQ(MessageOf(page), c.message);
  EXPECT_EQ(Slots(), c.slots.empty() ? kSlots : c.slots);
  EXPECT_EQ(Section("counter"), c.counter.empty() ? kCounter : c.counter);
  EXPECT_EQ(Section("desc"), c.descs.empty() ? kDesc : c.descs);
  Reload();
  EXPECT_EQ(Slots(), c.reloaded.empty() ? kSlots : c.reloaded);
}

std::string RefusedNameCases() { return "=[];,&%+?#\"'<>\x01\x1f\x7f"; }

std::vector<CommandCase> Cases() {
  std::vector<CommandCase> cases = {
      Unchanged("wrong password", "add", "x", "y", "pass word", "<auth>"),
      Unchanged("password cut at its blank", "add", "x", "y", "Pass", "<auth>"),
      Unchanged("password checked before type", "bogus", "", "", "", "<auth>"),
      Unchanged("type in other case", "Add", "x", "y", kPass, "Error  invalid command type"),
      Unchanged("type checked before empty input", "delete", "", "", kPass,
                "Error  invalid command type"),
      Unchanged("empty type", "", "x", "y", kPass, "Error  invalid command type"),
      Unchanged("blank name", "add", "   ", "y", kPass, "Error  Input Counter Name or Description"),
      Unchanged("name of ideographic spaces", "del", " \x81\x40\x81\x40 ", "", kPass,
                "Error  Input Counter Name or Description"),
      Unchanged("add without description", "add", "x", "", kPass,
                "Error  Input Counter Name or Description"),
      Unchanged("add with blank description", "add", "x", "  \x81\x40 ", kPass,
                "Error  Input Counter Name or Description"),
      Unchanged("reset without value", "reset", "alpha", "", kPass,
                "Error  Input Counter Name or Description"),
      Unchanged("add existing", "add", "alpha", "again", kPass, "Error  Counter Name Exist!"),
      Unchanged("add existing negative", "add", "neg", "again", kPass,
                "Error  Counter Name Exist!"),
      Unchanged("add existing after clean-up", "add", " al\x81\x40pha ", "again", kPass,
                "Error  Counter Name Exist!"),
      Unchanged("names compare with case", "del", "Alpha", "", kPass,
                "Error  Counter Name not found!"),
      Unchanged("reset missing", "reset", "beta", "3", kPass, "Error  Counter Name not found!"),
      Unchanged("description with a line break", "add", "x", "a\r\nevil=1", kPass,
                "Error  Invalid Description"),
      Unchanged("reset value with a tab", "reset", "alpha", "1\t2", kPass,
                "Error  Invalid Description"),
      Added("two words joined", "two words", "  my  desc ", "twowords", "my  desc ,2024/05/06"),
      Added("ideographic spaces dropped",
            "a\x81\x40"
            "b",
            "\x81\x40x\x81\x40y", "ab", "xy,2024/05/06"),
      Added("name cut to 64 bytes", k64 + "tail", "d", k64, "d,2024/05/06"),
      Added("64-byte description", "x", std::string(64, 'd') + "cut", "x",
            std::string(64, 'd') + ",2024/05/06"),
      Added("comma in description", "x", "a,b", "x", "a,b,2024/05/06"),
      Added("Shift-JIS name", kSjis, "sjis", kSjis, "sjis,2024/05/06"),
      Added("bytes of the page are allowed in descriptions", "x", "<b>&'\"=;[]", "x",
            "<b>&'\"=;[],2024/05/06"),
      Reset("reset with trailing text", "alpha", "12abc", "12abc", 12),
      Reset("reset negative", "alpha", " -3", "-3", -3),
      Reset("reset without digits", "alpha", "xyz", "xyz", 0),
      {"delete", "del", "alpha", "", kPass, "Counter Deleted!", " lpha=0;neg=-7;", "neg=-7;",
       "neg=Neg,1999/01/02;", "neg=-7;"},
      {"delete ignores the description", "del", "neg", "a\nb", kPass, "Counter Deleted!",
       "alpha=5; eg=0;", "alpha=5;", "alpha=Alpha,1999/01/01;", "alpha=5;"},
  };
  for (char c : RefusedNameCases()) {
    const std::string name = std::string("a") + c + "b";
    for (const char* type : {"add", "reset", "del"}) {
      cases.push_back(
          Unchanged("refused name", type, name, "1", kPass, "Error  Invalid Counter Name"));
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Rules, CommandTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<CommandCase>& info) {
                           std::string name = std::to_string(info.index) + "_";
                           for (const char* p = info.param.label; *p != '\0'; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

class MaintenanceTest : public ManagerTest {};

TEST_F(MaintenanceTest, AddDeleteAddLeavesTwoSlots) {
  Start(kIni);
  EXPECT_EQ(MessageOf(CommandPage("add", "page", "Home", kPass)), "Counter Added!");
  server_->table.values[2] = 9;
  EXPECT_EQ(MessageOf(CommandPage("del", "page", "", kPass)), "Counter Deleted!");
  EXPECT_EQ(MessageOf(CommandPage("del", "page", "", kPass)), "Error  Counter Name not found!");
  EXPECT_EQ(Section("counter"), kCounter);
  EXPECT_EQ(Section("desc"), kDesc);
  EXPECT_EQ(MessageOf(CommandPage("add", "page", "Again", kPass)), "Counter Added!");
  EXPECT_EQ(Slots(), kSlots + " age=0;page=0;");
  EXPECT_EQ(Section("counter"), kCounter + "page=0;");
  EXPECT_EQ(Section("desc"), kDesc + "page=Again,2024/05/06;");
  Reload();
  EXPECT_EQ(Slots(), kSlots + "page=0;");
}

TEST_F(MaintenanceTest, ThePageAnsweringAChangeShowsIt) {
  Start(kIni);
  const std::string page = CommandPage("add", "new", "Fresh one", kPass);
  EXPECT_NE(page.find("<TR><TD>new</TD><TD><IMG ALIGN=middle "
                      "SRC=\"Vormel.dll?counter?p=lit=00000000\"></TD><TD>Fresh one</TD><TD>"
                      "2024/05/06</TD></TR>\r\n"),
            std::string::npos);
  EXPECT_NE(page.find("VALUE=\"Pass Word\""), std::string::npos);
  EXPECT_EQ(CommandPage("del", "alpha", "", kPass).find("<TD>alpha</TD>"), std::string::npos);
  EXPECT_NE(CommandPage("reset", "neg", "31", kPass).find("lit=00000031"), std::string::npos);
}

TEST_F(MaintenanceTest, FullTableRefusesAdd) {
  Start(kIni);
  {
    std::unique_lock<std::shared_mutex> guard(server_->table.lock);
    for (int i = server_->table.count; i < kMaxCounters; ++i) {
      ASSERT_TRUE(server_->table.Append(("c" + std::to_string(i)).c_str()));
    }
  }
  EXPECT_EQ(MessageOf(CommandPage("add", "x", "y", kPass)), "Error  Counter Table Full");
  EXPECT_EQ(server_->table.count, kMaxCounters);
  EXPECT_EQ(Section("counter"), kCounter);
  EXPECT_EQ(Section("desc"), kDesc);
}

TEST_F(MaintenanceTest, FullNamesBufferRefusesAdd) {
  Start(kIni);
  const int before = server_->table.NamesUsed();
  {
    std::unique_lock<std::shared_mutex> guard(server_->table.lock);
    // Fill the buffer up to two bytes: room for a one-byte name, not for a two-byte one.
    int left = kNamesCapacity - before - 2;
    for (int i = 0; left > 0; ++i) {
      std::string name = std::to_string(i) + "-";
      const int length = std::min(left - 1, 64);
      name.resize(static_cast<std::size_t>(length), 'x');
      ASSERT_TRUE(server_->table.Append(name.c_str()));
      left -= length + 1;
    }
  }
  ASSERT_EQ(server_->table.NamesUsed(), kNamesCapacity - 2);
  const int count = server_->table.count;
  EXPECT_EQ(MessageOf(CommandPage("add", "xy", "y", kPass)), "Error  Counter Table Full");
  EXPECT_EQ(server_->table.count, count);
  EXPECT_EQ(Section("counter"), kCounter);
  EXPECT_EQ(MessageOf(CommandPage("add", "z", "y", kPass)), "Counter Added!");
  EXPECT_EQ(server_->table.NamesUsed(), kNamesCapacity);
}

// A change the file did not take is reported, and the table stays as the file is. The file
// is given a name so long that the temporary beside it cannot be created (root ignores modes).
TEST_F(MaintenanceTest, FailedFileWriteChangesNothing) {
  Start(kIni);
  const std::string dir = std::filesystem::temp_directory_path().string() + "/";
  const std::size_t room = sizeof server_->settingsPath - 1 - dir.size();
  ASSERT_GE(room, 250u) << "temporary directory path too long for this test";
  const std::filesystem::path path =
      dir + std::to_string(std::random_device()()) + std::string(250 - 10, 'v');
  std::filesystem::copy_file(home_ / "vormel.ini", path);
  std::snprintf(server_->settingsPath, sizeof server_->settingsPath, "%s", path.c_str());
  for (const char* type : {"add", "reset", "del"}) {
    const char* name = std::string(type) == "add" ? "fresh" : "alpha";
    EXPECT_EQ(MessageOf(CommandPage(type, name, "3", kPass)),
              "Error  Could not write settings file")
        << type;
    EXPECT_EQ(Slots(), kSlots) << type;
    EXPECT_EQ(Section("counter"), kCounter) << type;
    EXPECT_EQ(Section("desc"), kDesc) << type;
  }
  std::filesystem::remove(path);
}

TEST_F(MaintenanceTest, ResetValueStandsInTheFileUntilACommitWritesTheNumber) {
  Start(kIni);
  CommandPage("reset", "alpha", "12abc", kPass);
  EXPECT_NE(FileText().find("alpha=12abc\r\n"), std::string::npos);
  server_.reset();  // the final commit pass writes the changed value
  EXPECT_NE(FileText().find("alpha=12\r\n"), std::string::npos);
  server_ = std::make_unique<CounterExtension>();
}

}  // namespace
}  // namespace vormel::testing

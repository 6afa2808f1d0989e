// Loading refuses a module that lacks an entry point or declines to start, and unloading runs
// TerminateExtension and then the module's static destruction.
#include "host/module_loader.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace vormel {
namespace {

class ModuleLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vormel-loader-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home_ = pattern;
    setenv("VORMEL_HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VORMEL_HOME");
    unsetenv("FAKE_MODULE_REFUSE");
    std::filesystem::remove_all(home_);
  }
  std::string ModuleLog() {
    std::ifstream file(home_ + "/fake_module.log");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::string home_;
};

TEST_F(ModuleLoaderTest, LoadsReportsVersionAndUnloadsInOrder) {
  std::string error;
  std::unique_ptr<Module> module = Module::Load(FAKE_MODULE_PATH, error);
  ASSERT_NE(module, nullptr) << error;
  EXPECT_EQ(module->version().dwExtensionVersion, 0x40000u);
  EXPECT_STREQ(module->version().lpszExtensionDesc, "Fake Module");
  EXPECT_EQ(ModuleLog(), "");
  module->Unload();
  EXPECT_EQ(ModuleLog(), "terminated\nunloaded\n");
  module->Unload();  // a second unload changes nothing
  EXPECT_EQ(ModuleLog(), "terminated\nunloaded\n");
}

TEST_F(ModuleLoaderTest, Refusals) {
  struct Case {
    const char* name;
    const char* path;
    bool refuse;
    const char* message_part;
  } cases[] = {
      {"missing file", "/nonexistent/Vormel.so", false, "cannot load module"},
      {"missing export", FAKE_MODULE_INCOMPLETE_PATH, false,
       "lacks the entry point TerminateExtension"},
      {"declined", FAKE_MODULE_PATH, true, "GetExtensionVersion answered FALSE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.refuse) setenv("FAKE_MODULE_REFUSE", "1", 1);
    std::string error;
    EXPECT_EQ(Module::Load(c.path, error), nullptr);
    EXPECT_NE(error.find(c.message_part), std::string::npos) << error;
    unsetenv("FAKE_MODULE_REFUSE");
  }
  // A declined module is unloaded without TerminateExtension.
  EXPECT_EQ(ModuleLog().find("terminated"), std::string::npos);
}

TEST(DefaultModulePathTest, BesideTheProgram) {
  std::string path = DefaultModulePath();
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(path, self.substr(0, self.rfind('/') + 1) + "Vormel.so");
}

}  // namespace
}  // namespace vormel

// The built module as the web server sees it: loaded with dlopen, reached through its three
// exports and the published request-block layout only.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/isapi.h"
#include "platform/profile.h"
#include "tests/support/fake_request.h"
#include "tests/support/temp_home.h"

namespace vormel {
namespace {

std::string BinDir() {
  const char* dir = std::getenv("VORMEL_BUILD_BIN");
  return dir != nullptr ? dir : ".";
}

std::set<std::string> DynamicSymbols(const std::string& library) {
  std::set<std::string> names;
  std::string command = "nm -D --defined-only " + library + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    char address[64], type[8], name[400];
    if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3) names.insert(name);
  }
  ::pclose(pipe);
  return names;
}

TEST(ModuleTest, ExportsExactlyTheEntryPoints) {
  EXPECT_EQ(
      DynamicSymbols(BinDir() + "/Vormel.so"),
      (std::set<std::string>{"GetExtensionVersion", "HttpExtensionProc", "TerminateExtension"}));
  EXPECT_EQ(DynamicSymbols(BinDir() + "/Kandri.so"), std::set<std::string>{"Counter2"});
}

class LoadedModule {
 public:
  LoadedModule() {
    handle_ = ::dlopen((BinDir() + "/Vormel.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) return;
    version = reinterpret_cast<GetExtensionVersionFn>(::dlsym(handle_, "GetExtensionVersion"));
    proc = reinterpret_cast<HttpExtensionProcFn>(::dlsym(handle_, "HttpExtensionProc"));
    terminate = reinterpret_cast<TerminateExtensionFn>(::dlsym(handle_, "TerminateExtension"));
  }
  ~LoadedModule() { Unload(); }
  void Unload() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
  }
  bool loaded() const { return handle_ != nullptr && version && proc && terminate; }

  GetExtensionVersionFn version = nullptr;
  HttpExtensionProcFn proc = nullptr;
  TerminateExtensionFn terminate = nullptr;

 private:
  void* handle_ = nullptr;
};

TEST(ModuleTest, AnswersThroughThePublishedLayout) {
  testing::TempHome home;
  home.WriteSettings("[global]\npass=secret\n[counter]\nsample=41\n");
  {
    LoadedModule module;
    ASSERT_TRUE(module.loaded()) << ::dlerror();

    HSE_VERSION_INFO info{};
    EXPECT_EQ(module.version(&info), TRUE);
    EXPECT_EQ(info.dwExtensionVersion, 0x40000u);
    EXPECT_STREQ(info.lpszExtensionDesc, "Vormel Extension");

    testing::FakeRequest unknown("GET", "Report?x=1");
    EXPECT_EQ(module.proc(unknown.block()), HSE_STATUS_ERROR);
    EXPECT_EQ(unknown.block()->dwHttpStatusCode, 501u);
    EXPECT_NE(unknown.Written().find("<b>Report?x=1</b>"), std::string::npos);

    testing::FakeRequest missing("GET", "List");
    EXPECT_EQ(module.proc(missing.block()), HSE_STATUS_ERROR);
    EXPECT_EQ(testing::StatusOf(missing), "400 Bad Request");

    testing::FakeRequest refused("GET", "list?pass=SECRET");
    EXPECT_EQ(module.proc(refused.block()), HSE_STATUS_SUCCESS);
    EXPECT_EQ(refused.Written(),
              "\r\n<html><head><title>Default MFC Web Server Extension</title></head><body>"
              "Vormel Authorization Failed</body></html>");

    for (int i = 0; i < 3; ++i) {
      testing::FakeRequest image("GET", "counter?p=df=sample,dd=a");
      EXPECT_EQ(module.proc(image.block()), HSE_STATUS_SUCCESS);
      EXPECT_EQ(testing::StatusOf(image), "200 OK");
      ASSERT_EQ(image.writes.size(), 2u);
      EXPECT_EQ(image.writes[1].substr(0, 6), "GIF89a");
      EXPECT_NE(image.headerSends[0].header.find("Content-Type: image/gif\r\n"), std::string::npos);
    }
    for (DWORD flags : {0u, HSE_TERM_ADVISORY_UNLOAD, HSE_TERM_MUST_UNLOAD}) {
      EXPECT_EQ(module.terminate(flags), TRUE);
    }
    module.Unload();
  }
  // The unload ran the final commit.
  char value[32];
  GetProfileString("counter", "sample", "", value, sizeof value, home.settingsPath().c_str());
  EXPECT_STREQ(value, "44");
}

}  // namespace
}  // namespace vormel

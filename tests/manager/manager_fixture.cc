#include "tests/manager/manager_fixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "manager/creation_date.h"
#include "platform/profile.h"
#include "store/value_slot.h"
#include "tests/support/fake_request.h"

namespace vormel::testing {
namespace {

void FixedToday(char* buffer, std::size_t size) { std::snprintf(buffer, size, "%s", kFixedDate); }

}  // namespace

void ManagerTest::TearDown() {
  server_.reset();
  today = &LocalToday;
  std::error_code ignored;
  if (!home_.empty()) std::filesystem::remove_all(home_, ignored);
}

void ManagerTest::Start(const std::string& ini) {
  std::random_device random;
  home_ = std::filesystem::temp_directory_path() /
          ("vormel-manager-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(home_);
  std::string text = ini;
  if (text.find("commit=") == std::string::npos) {
    text = text.find("[global]") == std::string::npos
               ? "[global]\r\ncommit=3600\r\n" + text
               : text.replace(text.find("[global]"), 8, "[global]\r\ncommit=3600");
  }
  std::ofstream(home_ / "vormel.ini", std::ios::binary) << text;
  setenv("VORMEL_HOME", home_.c_str(), 1);
  today = &FixedToday;
  server_ = std::make_unique<CounterExtension>();
}

void ManagerTest::Reload() {
  server_.reset();
  server_ = std::make_unique<CounterExtension>();
}

std::string ManagerTest::ListPage(const char* pass) {
  FakeRequest request("GET", "");
  RequestContext context(request.block());
  context.stream = server_->CreateStream();
  server_->List(context, pass);
  return std::string(context.stream->data() + context.endOfHeaders,
                     context.stream->length() - context.endOfHeaders);
}

std::string ManagerTest::CommandPage(const char* type, const char* name, const char* desc,
                                     const char* pass) {
  FakeRequest request("GET", "");
  RequestContext context(request.block());
  context.stream = server_->CreateStream();
  server_->Command(context, type, name, desc, pass);
  return std::string(context.stream->data() + context.endOfHeaders,
                     context.stream->length() - context.endOfHeaders);
}

std::string ManagerTest::Slots() const {
  std::string out;
  const char* cursor = server_->table.names;
  for (int i = 0; i < server_->table.count; ++i) {
    out += cursor;
    out += "=" + std::to_string(LoadValue(server_->table.values[i])) + ";";
    cursor += server_->table.nameLengths[i];
  }
  return out;
}

std::string ManagerTest::Section(const char* section) const {
  char keys[16384];
  GetProfileString(section, nullptr, "", keys, sizeof keys, server_->settingsPath);
  std::string out;
  for (const char* key = keys; *key != '\0'; key += std::strlen(key) + 1) {
    char value[512];
    GetProfileString(section, key, "", value, sizeof value, server_->settingsPath);
    out += std::string(key) + "=" + value + ";";
  }
  return out;
}

std::string ManagerTest::FileText() const {
  std::ifstream in(home_ / "vormel.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string MessageOf(const std::string& page) {
  if (page.find("Vormel Authorization Failed") != std::string::npos) return "<auth>";
  static const std::string kOpen = "<B><FONT COLOR=red>";
  const std::size_t begin = page.find(kOpen);
  if (begin == std::string::npos) return "";
  const std::size_t end = page.find("</FONT></B>\r\n", begin);
  return page.substr(begin + kOpen.size(), end - begin - kOpen.size());
}

}  // namespace vormel::testing

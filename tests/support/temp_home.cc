#include "tests/support/temp_home.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vormel::testing {

TempHome::TempHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vormel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  ::setenv("VORMEL_HOME", dir_.c_str(), 1);
}

TempHome::~TempHome() {
  ::unsetenv("VORMEL_HOME");
  std::error_code ignored;
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(dir_, ignored);
}

void TempHome::WriteSettings(const std::string& text) const {
  std::ofstream out(settingsPath(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::string TempHome::ReadSettings() const {
  std::ifstream in(settingsPath(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace vormel::testing

// First run: gives a new installation a settings file with a random service password, so no
// installation starts with a password anyone can guess. An existing file is never touched.
#pragma once

#include <optional>
#include <string>

namespace vormel {

// A password of `length` letters and digits drawn from /dev/urandom; empty when it is unreadable.
std::string RandomPassword(std::size_t length);

struct FirstRunResult {
  bool ok = false;
  std::optional<std::string> new_password;  // set only when this call created the file
  std::string error;
};

// Creates home/vormel.ini holding "[global]" and a 16-character pass unless it exists.
FirstRunResult EnsureSettingsFile(const std::string& home);

}  // namespace vormel

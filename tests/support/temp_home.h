// A fresh settings directory for one test, named by VORMEL_HOME while the object lives.
#pragma once

#include <string>

namespace vormel::testing {

class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& dir() const { return dir_; }
  std::string settingsPath() const { return dir_ + "/vormel.ini"; }
  void WriteSettings(const std::string& text) const;
  std::string ReadSettings() const;

 private:
  std::string dir_;
};

}  // namespace vormel::testing

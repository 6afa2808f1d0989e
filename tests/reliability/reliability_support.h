// Helpers of the load and fault tests against a running vormel-host: a settings home of the
// test's own, image and manager requests on loopback, and readers of the settings file.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "tests/host/host_process.h"

namespace vormel::testing {

// A fresh directory for a host's --home, removed with the object.
class HomeDir {
 public:
  HomeDir();
  ~HomeDir();
  HomeDir(const HomeDir&) = delete;
  HomeDir& operator=(const HomeDir&) = delete;
  const std::string& path() const { return path_; }
  std::string settings() const { return path_ + "/vormel.ini"; }
  void Write(const std::string& text) const;

 private:
  std::string path_;
};

inline constexpr char kPass[] = "pw";

std::string ImageTarget(const std::string& name);
// One GET or POST on `client`, which is reconnected when the host closed it.
std::optional<Response> SendGet(Client& client, const std::string& target);
// A manager command on a fresh connection; the page's message, or "" when no page came.
std::string ManagerCommand(int port, const std::string& type, const std::string& name,
                           const std::string& desc);
// The counter values the manager page lists after signing in, by name.
std::map<std::string, long long> ListedValues(int port);

// The counters of a settings file text; nullopt unless the text is a whole file: every line
// ends with CRLF and is a section header, key=value or empty, [global] holds pass and commit,
// and every counter value is a decimal number.
std::optional<std::map<std::string, long long>> WholeFileCounters(const std::string& text);

}  // namespace vormel::testing

// The access log in Common Log Format, one write per line, to a file or stdout. The service
// password never reaches it: RedactTarget hides every `pass` value of a logged query string.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vormel {

// The target with the value of each `pass` parameter replaced by "[redacted]", and with the
// pieces of a List or Command query given by position (a password among them) hidden too.
std::string RedactTarget(std::string_view target);

struct AccessRecord {
  std::string_view remote_addr;
  std::string_view method;
  std::string_view target;   // as received; redacted on the way out
  std::string_view version;  // "HTTP/1.1"
  int status = 0;
  std::size_t body_bytes = 0;
};

// One log line without its newline; `now` is seconds since the epoch.
std::string FormatAccessLine(const AccessRecord& record, long long now);

class AccessLog {
 public:
  // destination is a file path (appended to, created 0640) or "-" for stdout.
  static std::unique_ptr<AccessLog> Open(const std::string& destination, std::string& error);
  // Writes to fd, closing it at the end when owned.
  AccessLog(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~AccessLog();
  AccessLog(const AccessLog&) = delete;
  AccessLog& operator=(const AccessLog&) = delete;

  // Thread-safe: each line is one write(2).
  void Write(const AccessRecord& record) const;

 private:
  int fd_;
  bool owned_;
};

}  // namespace vormel

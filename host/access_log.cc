#include "host/access_log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace vormel {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A List or Command query may carry the password by position, without "pass=".
bool TakesPasswordByPosition(std::string_view command) {
  return EqualsNoCase(command, "list") || EqualsNoCase(command, "command");
}

// Appends the byte to a log line, escaping what could forge a field or a line.
void AppendLogByte(std::string& out, char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte < 0x20 || byte == 0x7f || c == '"' || c == '\\') {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  } else {
    out += c;
  }
}

}  // namespace

std::string RedactTarget(std::string_view target) {
  std::size_t question = target.find('?');
  if (question == std::string_view::npos) return std::string(target);
  std::string out(target.substr(0, question + 1));
  std::string_view query = target.substr(question + 1);

  // The command is the text before the first '?', '&' or '=' (after a MfcISAPICommand= keyword).
  std::string_view command = query.substr(0, query.find_first_of("?&="));
  if (EqualsNoCase(command, "MfcISAPICommand") && command.size() < query.size()) {
    std::string_view rest = query.substr(command.size() + 1);
    command = rest.substr(0, rest.find_first_of("?&="));
  }
  const bool positional = TakesPasswordByPosition(command);

  // Pieces end at '&' or '?'; the first piece (the command itself) is kept as it is.
  std::size_t start = 0;
  bool first = true;
  while (start <= query.size()) {
    std::size_t end = query.find_first_of("&?", start);
    if (end == std::string_view::npos) end = query.size();
    std::string_view piece = query.substr(start, end - start);
    std::size_t eq = piece.find('=');
    std::string_view name = piece.substr(0, eq);
    if (eq != std::string_view::npos && EqualsNoCase(name, "pass")) {
      out.append(name);
      out += "=[redacted]";
    } else if (!first && positional && !piece.empty() && eq == std::string_view::npos) {
      // Pieces with '=' (the command keyword among them) are names, not values: kept.
      out += "[redacted]";
    } else {
      out.append(piece);
    }
    if (end == query.size()) break;
    out += query[end];
    start = end + 1;
    first = false;
  }
  return out;
}

std::string FormatAccessLine(const AccessRecord& record, long long now) {
  std::string line;
  line.reserve(128 + record.target.size());
  line.append(record.remote_addr.empty() ? std::string_view("-") : record.remote_addr);
  line += " - - [";
  time_t seconds = static_cast<time_t>(now);
  tm local{};
  localtime_r(&seconds, &local);
  std::array<char, 40> stamp{};
  std::size_t n = strftime(stamp.data(), stamp.size(), "%d/%b/%Y:%H:%M:%S %z", &local);
  line.append(stamp.data(), n);
  line += "] \"";
  for (char c : record.method) AppendLogByte(line, c);
  line += ' ';
  for (char c : RedactTarget(record.target)) AppendLogByte(line, c);
  line += ' ';
  line.append(record.version);
  line += "\" ";
  line += std::to_string(record.status);
  line += ' ';
  line += record.body_bytes == 0 ? std::string("-") : std::to_string(record.body_bytes);
  return line;
}

std::unique_ptr<AccessLog> AccessLog::Open(const std::string& destination, std::string& error) {
  if (destination == "-") return std::make_unique<AccessLog>(STDOUT_FILENO, false);
  int fd = ::open(destination.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) {
    error = "cannot open access log " + destination + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<AccessLog>(fd, true);
}

AccessLog::~AccessLog() {
  if (owned_) ::close(fd_);
}

void AccessLog::Write(const AccessRecord& record) const {
  std::string line = FormatAccessLine(record, static_cast<long long>(::time(nullptr)));
  line += '\n';
  // O_APPEND makes each line one atomic append; a short write to a full disk is dropped.
  [[maybe_unused]] ssize_t written = ::write(fd_, line.data(), line.size());
}

}  // namespace vormel

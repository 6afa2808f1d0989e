#include "host/first_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace vormel {

std::string RandomPassword(std::size_t length) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  constexpr unsigned kSize = sizeof(kAlphabet) - 1;
  // Bytes at or above the largest multiple of the alphabet size are dropped, so every
  // character is equally likely.
  constexpr unsigned kLimit = 256 - 256 % kSize;
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string password;
  unsigned char bytes[64];
  while (password.size() < length) {
    ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      ::close(fd);
      return {};
    }
    for (ssize_t i = 0; i < n && password.size() < length; ++i) {
      if (bytes[i] < kLimit) password += kAlphabet[bytes[i] % kSize];
    }
  }
  ::close(fd);
  return password;
}

FirstRunResult EnsureSettingsFile(const std::string& home) {
  FirstRunResult result;
  std::string path = home + "/vormel.ini";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) {
      result.ok = true;
    } else {
      result.error = "cannot create " + path + ": " + std::strerror(errno);
    }
    return result;
  }
  std::string password = RandomPassword(16);
  // The manager page's sample images draw the counter `sample`; a new installation has it.
  char today[16] = "";
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(today, sizeof today, "%Y/%m/%d", &local);
  std::string text = "[global]\npass=" + password +
                     "\n[counter]\nsample=0\n[desc]\nsample=Sample counter," + today + "\n";
  bool written = !password.empty() &&
                 ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                 ::fsync(fd) == 0;
  ::close(fd);
  if (!written) {
    // A half-written file would leave the installation with an unknown password.
    ::unlink(path.c_str());
    result.error = "cannot write " + path;
    return result;
  }
  result.ok = true;
  result.new_password = std::move(password);
  return result;
}

}  // namespace vormel

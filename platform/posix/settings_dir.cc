#include "platform/settings_dir.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace vormel {

std::size_t GetSettingsDirectory(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  const char* home = std::getenv("VORMEL_HOME");
  if (home != nullptr && home[0] != '\0') {
    std::size_t length = std::strlen(home);
    while (length > 1 && home[length - 1] == '/') --length;
    if (length >= size) return 0;
    std::memcpy(buffer, home, length);
    buffer[length] = '\0';
    return length;
  }
  if (::getcwd(buffer, size) == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  return std::strlen(buffer);
}

}  // namespace vormel

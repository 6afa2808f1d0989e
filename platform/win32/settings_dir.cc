#include "platform/settings_dir.h"

#include <windows.h>

namespace vormel {

// VORMEL_HOME is read from the process environment block, not the C runtime's copy of it, so a
// value set by the hosting process after its start is seen.
std::size_t GetSettingsDirectory(char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = '\0';
  const DWORD capacity = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
  DWORD length = ::GetEnvironmentVariableA("VORMEL_HOME", buffer, capacity);
  if (length >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  if (length > 0) {
    while (length > 1 && (buffer[length - 1] == '\\' || buffer[length - 1] == '/')) --length;
    buffer[length] = '\0';
    return length;
  }
  length = ::GetSystemDirectoryA(buffer, capacity);
  if (length == 0 || length >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

}  // namespace vormel

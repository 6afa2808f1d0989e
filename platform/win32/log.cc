#include "platform/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

namespace vormel {

// The web server's worker has no console, so each line also goes to the debugger's output,
// where DebugView and the like show it; stderr serves programs that do have one.
void LogError(const char* format, ...) {
  char line[1024];
  int prefix = std::snprintf(line, sizeof line, "vormel: ");
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line + prefix, sizeof line - prefix - 2, format, args);
  va_end(args);
  size_t length = prefix + (n < 0 ? 0 : static_cast<size_t>(n));
  if (length > sizeof line - 3) length = sizeof line - 3;
  line[length++] = '\r';
  line[length++] = '\n';
  line[length] = '\0';
  ::OutputDebugStringA(line);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (err != nullptr && err != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(err, line, static_cast<DWORD>(length), &written, nullptr);
  }
}

}  // namespace vormel

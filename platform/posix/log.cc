#include "platform/log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace vormel {

void LogError(const char* format, ...) {
  char line[1024];
  int prefix = std::snprintf(line, sizeof line, "vormel: ");
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line + prefix, sizeof line - prefix - 1, format, args);
  va_end(args);
  size_t length = prefix + (n < 0 ? 0 : static_cast<size_t>(n));
  if (length > sizeof line - 2) length = sizeof line - 2;
  line[length++] = '\n';
  // One write keeps lines of concurrent threads whole.
  ssize_t ignored = ::write(STDERR_FILENO, line, length);
  (void)ignored;
}

}  // namespace vormel

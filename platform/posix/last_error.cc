#include "platform/last_error.h"

#include <cerrno>

namespace vormel {

// errno is this platform's per-thread last error, shared with the host that loads the module;
// a host reports a reset connection as ECONNRESET.
DWORD LastError() {
  int code = errno;
  if (code == ECONNRESET) return WSAECONNRESET;
  return static_cast<DWORD>(code);
}

void SetLastErrorCode(DWORD code) {
  errno = code == WSAECONNRESET ? ECONNRESET : static_cast<int>(code);
}

}  // namespace vormel

#include "platform/last_error.h"

namespace vormel {

// The thread's system error slot is the one the web server's callbacks set; its codes, including
// WSAECONNRESET for a client that has gone, are the ones the module compares against.
DWORD LastError() { return ::GetLastError(); }

void SetLastErrorCode(DWORD code) { ::SetLastError(code); }

}  // namespace vormel

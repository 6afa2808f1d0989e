// The calling thread's last error code, as the web server's callbacks report it (a host sets
// WSAECONNRESET when the client has gone). One value per thread; no locking needed.
#pragma once

#include "platform/isapi.h"

namespace vormel {

DWORD LastError();
void SetLastErrorCode(DWORD code);

}  // namespace vormel

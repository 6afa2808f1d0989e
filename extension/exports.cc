// The module's three entry points. They reach the server object through activeServer only,
// and no exception leaves them.
#include "extension/extension_server.h"

namespace vormel {
namespace {

#if !defined(_WIN32)
// Stands in for the attach entry point of systems that have one.
__attribute__((constructor)) void AttachModule() { moduleInstance = CurrentModuleInstance(); }
#endif

}  // namespace
}  // namespace vormel

using vormel::activeServer;

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  vormel::moduleInstance = instance;
  return TRUE;
}
#endif

VORMEL_EXPORT vormel::BOOL WINAPI GetExtensionVersion(vormel::HSE_VERSION_INFO* info) {
  if (activeServer == nullptr || info == nullptr) return vormel::FALSE;
  try {
    return activeServer->GetExtensionVersion(info);
  } catch (...) {
    return vormel::FALSE;
  }
}

VORMEL_EXPORT vormel::DWORD WINAPI HttpExtensionProc(vormel::EXTENSION_CONTROL_BLOCK* request) {
  if (request == nullptr) return vormel::HSE_STATUS_ERROR;
  if (activeServer == nullptr) {
    request->dwHttpStatusCode = 500;
    return vormel::HSE_STATUS_ERROR;
  }
  try {
    return activeServer->HttpExtensionProc(request);
  } catch (...) {
    request->dwHttpStatusCode = 500;
    return vormel::HSE_STATUS_ERROR;
  }
}

VORMEL_EXPORT vormel::BOOL WINAPI TerminateExtension(vormel::DWORD flags) {
  if (activeServer == nullptr) return vormel::TRUE;
  try {
    return activeServer->TerminateExtension(flags);
  } catch (...) {
    return vormel::TRUE;
  }
}

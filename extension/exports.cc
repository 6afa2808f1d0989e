// The module's three entry points. They reach the server object through activeServer only,
// and no exception leaves them.
#include "extension/extension_server.h"

namespace vormel {
namespace {

#if !defined(_WIN32)
// Stands in for the attach entry point of systems that have one.
__attribute__((constructor)) void AttachModule() { moduleInstance = CurrentModuleInstance(); }
#endif

// The bodies live in the namespace: on Windows TRUE, FALSE and the HSE_ constants are macros
// and cannot be named as vormel:: members from outside it.
BOOL VersionEntry(HSE_VERSION_INFO* info) {
  if (activeServer == nullptr || info == nullptr) return FALSE;
  try {
    return activeServer->GetExtensionVersion(info);
  } catch (...) {
    return FALSE;
  }
}

DWORD RequestEntry(EXTENSION_CONTROL_BLOCK* request) {
  if (request == nullptr) return HSE_STATUS_ERROR;
  if (activeServer == nullptr) {
    request->dwHttpStatusCode = 500;
    return HSE_STATUS_ERROR;
  }
  try {
    return activeServer->HttpExtensionProc(request);
  } catch (...) {
    request->dwHttpStatusCode = 500;
    return HSE_STATUS_ERROR;
  }
}

BOOL TerminateEntry(DWORD flags) {
  if (activeServer == nullptr) return TRUE;
  try {
    return activeServer->TerminateExtension(flags);
  } catch (...) {
    return TRUE;
  }
}

}  // namespace
}  // namespace vormel

#if defined(_WIN32)
// Records the instance for the string table; every reason succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  vormel::moduleInstance = instance;
  return TRUE;
}
#endif

VORMEL_EXPORT vormel::BOOL WINAPI GetExtensionVersion(vormel::HSE_VERSION_INFO* info) {
  return vormel::VersionEntry(info);
}

VORMEL_EXPORT vormel::DWORD WINAPI HttpExtensionProc(vormel::EXTENSION_CONTROL_BLOCK* request) {
  return vormel::RequestEntry(request);
}

VORMEL_EXPORT vormel::BOOL WINAPI TerminateExtension(vormel::DWORD flags) {
  return vormel::TerminateEntry(flags);
}

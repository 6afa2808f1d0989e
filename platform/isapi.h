// The web server's extension interface as the module sees it: the request block, the version
// block and their constants. The layout and field order are the published ones, so a host or a
// test program that fills these structures talks to the module exactly as the web server does.
// Keep this file stable: other programs are built against it.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
// httpext.h needs the types of windows.h first.
#include <httpext.h>
namespace vormel {
using ::BOOL;
using ::DWORD;
using ::EXTENSION_CONTROL_BLOCK;
using ::HCONN;
using ::HSE_VERSION_INFO;
}  // namespace vormel
#define VORMEL_EXPORT extern "C" __declspec(dllexport)
#else

#define WINAPI
#define VORMEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace vormel {

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using HCONN = void*;
using LPSTR = char*;
using LPBYTE = unsigned char*;
using LPVOID = void*;
using LPDWORD = DWORD*;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

inline constexpr DWORD HSE_VERSION_MAJOR = 4;
inline constexpr DWORD HSE_VERSION_MINOR = 0;
inline constexpr int HSE_LOG_BUFFER_LEN = 80;
inline constexpr int HSE_MAX_EXT_DLL_NAME_LEN = 256;

inline constexpr DWORD HSE_STATUS_SUCCESS = 1;
inline constexpr DWORD HSE_STATUS_SUCCESS_AND_KEEP_CONN = 2;
inline constexpr DWORD HSE_STATUS_PENDING = 3;
inline constexpr DWORD HSE_STATUS_ERROR = 4;

inline constexpr DWORD HSE_REQ_SEND_URL_REDIRECT_RESP = 1;
inline constexpr DWORD HSE_REQ_SEND_URL = 2;
inline constexpr DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;
inline constexpr DWORD HSE_REQ_DONE_WITH_SESSION = 4;

inline constexpr DWORD HSE_TERM_ADVISORY_UNLOAD = 1;
inline constexpr DWORD HSE_TERM_MUST_UNLOAD = 2;

inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_NO_DATA = 232;
inline constexpr DWORD WSAECONNRESET = 10054;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  char lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  char lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  BOOL(WINAPI* GetServerVariable)
  (HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(WINAPI* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* ServerSupportFunction)
  (HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer, LPDWORD lpdwSize, LPDWORD lpdwDataType);
};

}  // namespace vormel
#endif

namespace vormel {
// The module's three entry points, as the host resolves them by name.
using GetExtensionVersionFn = BOOL(WINAPI*)(HSE_VERSION_INFO*);
using HttpExtensionProcFn = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using TerminateExtensionFn = BOOL(WINAPI*)(DWORD);
}  // namespace vormel

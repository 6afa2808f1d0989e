// One HTTP request mapped onto the module's request block: ModuleCall::Run fills an
// EXTENSION_CONTROL_BLOCK, calls HttpExtensionProc on the calling thread and turns what the
// module sent (status line, header text, then everything written after the empty line that
// ends the header section) into a Reply. No sockets: the connection is reached only through
// the client_gone probe.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "host/response_head.h"
#include "platform/isapi.h"

namespace vormel {

struct HeaderField {
  std::string_view name;
  std::string_view value;
};

struct ModuleRequest {
  std::string_view method;  // as received, e.g. "GET"
  std::string_view path;    // the target before its first '?', not decoded
  std::string_view query;   // the target after its first '?', not decoded; empty when absent
  std::string_view version = "HTTP/1.1";
  std::span<const HeaderField> headers;
  std::string_view body;  // the whole body, already read
  std::string_view remote_addr;
  std::uint16_t remote_port = 0;
  std::string_view server_addr;  // the listening address, when the request names no Host
  std::uint16_t server_port = 0;
  std::string_view path_translated;
  // True once the client has closed or reset the connection; the module then sees its next
  // WriteClient or header send fail with ECONNRESET. Asked at most once per kProbeInterval, so
  // a response written at once costs no probe (the host learns of the loss when it sends).
  std::function<bool()> client_gone;
};

inline constexpr std::chrono::milliseconds kProbeInterval{10};

// The body the module gets up front in lpbData; the rest it reads with ReadClient.
inline constexpr std::size_t kBodyUpFront = std::size_t{48} * 1024;

// The value of a header field (first match, name without regard to case), or empty.
std::string_view FindHeader(std::span<const HeaderField> headers, std::string_view name);

class ModuleCall {
 public:
  ModuleCall();

  // Runs the module for one request and fills reply. Reuses this object's buffers, so keep one
  // per connection. Not reentrant.
  void Run(HttpExtensionProcFn proc, const ModuleRequest& request, Reply& reply);

  // What the module reported, for the access log and for tests.
  DWORD result() const { return result_; }
  DWORD reported_status() const { return reported_status_; }
  bool client_gone() const { return client_gone_; }

 private:
  enum class Phase { kNothingSent, kHeaderSection, kBody };

  static BOOL WINAPI GetServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI WriteClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL WINAPI ReadClient(HCONN conn, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI ServerSupportFunction(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size,
                                           LPDWORD data_type);

  bool ClientGone();
  bool SendHeader(const char* status_line, const char* header_text);
  void AppendHeaderBytes(std::string_view bytes);
  void ParseHeaderLine(std::string_view line);
  void Finish();
  // Copies the value into buffer or tells the size needed.
  static BOOL CopyVariable(std::string_view value, LPVOID buffer, LPDWORD size);
  bool LookUpVariable(std::string_view name, std::string_view& value);

  EXTENSION_CONTROL_BLOCK block_{};
  const ModuleRequest* request_ = nullptr;
  Reply* reply_ = nullptr;
  std::string strings_;         // NUL-separated writable copies the block points into
  std::string header_section_;  // header bytes not yet split into lines
  std::string scratch_;         // the text of a computed server variable
  std::size_t body_read_ = 0;
  Phase phase_ = Phase::kNothingSent;
  DWORD result_ = 0;
  DWORD reported_status_ = 0;
  bool client_gone_ = false;
  std::chrono::steady_clock::time_point last_probe_;
};

}  // namespace vormel

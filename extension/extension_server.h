// The request frame's server class. Exactly one object exists per loaded module; it records
// itself in activeServer for the entry points. Requests run on many threads at once: the
// frame's own shared state is only the ParamInfo of each command, built under tableLock.
#pragma once

#include <cstdint>
#include <memory>

#include "extension/command_table.h"
#include "extension/dispatch.h"
#include "extension/html_stream.h"
#include "extension/request_context.h"
#include "platform/isapi.h"
#include "platform/lock.h"
#include "platform/strings.h"

namespace vormel {

// Bodies larger than this are refused before they are read.
inline constexpr DWORD kMaxRequestBody = 64 * 1024;
inline constexpr DWORD kUnknownBodyLength = 0xFFFFFFFF;

class ExtensionServer {
 public:
  explicit ExtensionServer(char parameterDelimiter);
  virtual ~ExtensionServer();
  ExtensionServer(const ExtensionServer&) = delete;
  ExtensionServer& operator=(const ExtensionServer&) = delete;

  virtual DispatchResult CallCommand(RequestContext& context, char* requestText, char* commandText);
  virtual bool WriteErrorPage(RequestContext& context);
  virtual bool WriteBody(RequestContext& context, const void* bytes, DWORD length);
  virtual void EndHtmlContent(RequestContext& context);
  virtual void StartHtmlContent(RequestContext& context);
  virtual void WriteHtmlTitle(RequestContext& context);
  virtual const char* PageTitle() const;
  virtual BOOL TerminateExtension(DWORD flags);
  virtual DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* request);
  virtual BOOL GetExtensionVersion(HSE_VERSION_INFO* info);
  virtual std::unique_ptr<HtmlStream> CreateStream();
  virtual bool BeginRequest(RequestContext& context);
  virtual const CommandTable* GetCommandTable() const;

  void AddResponseHeader(RequestContext& context, const char* text);
  CommandEntry* FindCommand(const char* name) const;

  char parameterDelimiter() const { return parameterDelimiter_; }

 private:
  const ParamInfo* EnsureParamInfo(CommandEntry& entry);
  void WriteErrorText(RequestContext& context, unsigned stringId, const char* insert);
  bool WriteStatusPage(RequestContext& context, const char* method);
  DWORD ReadBody(EXTENSION_CONTROL_BLOCK* request, std::unique_ptr<char[]>& body, DWORD& length);
  void Send(RequestContext& context, DetachedBuffer content, std::uint32_t length, DWORD& result);

  char parameterDelimiter_;
  Lock tableLock_;
};

// "%d %s" for the status, from the frame's status table; unknown codes give "200 OK".
// Writes at most size - 1 bytes and a NUL.
void FormatStatusLine(DWORD status, char* buffer, std::size_t size);

// The one server object of the module, or null before construction and after destruction.
extern ExtensionServer* activeServer;
extern ModuleInstance moduleInstance;

}  // namespace vormel

#include "extension/extension_server.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/last_error.h"
#include "resources/string_ids.h"

namespace vormel {

ExtensionServer* activeServer = nullptr;
ModuleInstance moduleInstance = nullptr;

namespace {

struct StatusText {
  DWORD code;
  const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {200, "OK"},
    {201, "Created"},
    {202, "Accepted"},
    {204, "No Content"},
    {302, "Moved Temporarily"},
    {301, "Moved Permanently"},
    {304, "Not Modified"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {413, "Request Entity Too Large"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
};

bool EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

// Request text reaches error pages; it must not be able to open markup there.
void WriteEscaped(HtmlStream& stream, const char* text) {
  const char* run = text;
  for (const char* p = text; *p != '\0'; ++p) {
    const char* entity = nullptr;
    switch (*p) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '\'':
        entity = "&#39;";
        break;
      default:
        continue;
    }
    stream.Write(run, static_cast<std::uint32_t>(p - run));
    stream << entity;
    run = p + 1;
  }
  stream << run;
}

void TrimEnd(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 1) {
    char c = text[length - 1];
    if (c != ' ' && c != '\r' && c != '\n') break;
    text[--length] = '\0';
  }
}

}  // namespace

void FormatStatusLine(DWORD status, char* buffer, std::size_t size) {
  const StatusText* found = &kStatusTexts[0];
  for (const StatusText& row : kStatusTexts) {
    if (row.code == status) {
      found = &row;
      break;
    }
  }
  std::snprintf(buffer, size, "%u %s", static_cast<unsigned>(found->code), found->text);
}

ExtensionServer::ExtensionServer(char parameterDelimiter)
    : parameterDelimiter_(parameterDelimiter) {
  activeServer = this;
}

ExtensionServer::~ExtensionServer() {
  if (activeServer == this) activeServer = nullptr;
}

BOOL ExtensionServer::GetExtensionVersion(HSE_VERSION_INFO* info) {
  info->dwExtensionVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  info->lpszExtensionDesc[0] = '\0';
  return TRUE;
}

BOOL ExtensionServer::TerminateExtension(DWORD) { return TRUE; }

const CommandTable* ExtensionServer::GetCommandTable() const { return nullptr; }

std::unique_ptr<HtmlStream> ExtensionServer::CreateStream() {
  return std::unique_ptr<HtmlStream>(new (std::nothrow) HtmlStream(4096));
}

bool ExtensionServer::BeginRequest(RequestContext&) { return true; }

const char* ExtensionServer::PageTitle() const { return "Default MFC Web Server Extension"; }

void ExtensionServer::AddResponseHeader(RequestContext& context, const char* text) {
  if (!context.stream) return;
  if (text != nullptr) *context.stream << text;
  context.endOfHeaders = context.stream->length();
}

void ExtensionServer::StartHtmlContent(RequestContext& context) {
  AddResponseHeader(context, "Content-Type: text/html\r\n");
}

void ExtensionServer::WriteHtmlTitle(RequestContext& context) {
  if (!context.stream) return;
  *context.stream << "<html><head><title>";
  if (const char* title = PageTitle()) *context.stream << title;
  *context.stream << "</title></head><body>";
}

void ExtensionServer::EndHtmlContent(RequestContext& context) {
  if (context.stream) *context.stream << "</body></html>";
}

bool ExtensionServer::WriteBody(RequestContext& context, const void* bytes, DWORD length) {
  EXTENSION_CONTROL_BLOCK* request = context.request;
  DWORD size = length;
  return request->WriteClient(request->ConnID, const_cast<void*>(bytes), &size, 0) != FALSE;
}

CommandEntry* ExtensionServer::FindCommand(const char* name) const {
  return vormel::FindCommand(GetCommandTable(), name);
}

const ParamInfo* ExtensionServer::EnsureParamInfo(CommandEntry& entry) {
  const ParamInfo* info = entry.paramInfo.load(std::memory_order_acquire);
  if (info != nullptr) return info;
  std::lock_guard<Lock> guard(tableLock_);
  info = entry.paramInfo.load(std::memory_order_relaxed);
  if (info == nullptr) {
    auto built = std::make_unique<ParamInfo>();
    if (!BuildParamInfo(entry.declaration, *built)) throw std::bad_alloc();
    entry.owned = std::move(built);
    info = entry.owned.get();
    entry.paramInfo.store(info, std::memory_order_release);
  }
  return info;
}

DispatchResult ExtensionServer::CallCommand(RequestContext& context, char* requestText,
                                            char* commandText) {
  context.stream = CreateStream();
  if (!context.stream) return DispatchResult::NoStream;

  CommandEntry* command = nullptr;
  char* parameters = nullptr;
  const char delimiter = parameterDelimiter_;

  // Keyword form: MfcISAPICommand=Name&parameters.
  if (char* equals = std::strchr(requestText, '=')) {
    *equals = '\0';
    if (EqualsNoCase(requestText, "MfcISAPICommand")) {
      char* name = equals + 1;
      char* keywordParameters = nullptr;
      if (*name != '\0') {
        if (char* amp = std::strchr(name, delimiter)) {
          *amp = '\0';
          keywordParameters = amp + 1;
        }
      }
      command = FindCommand(name);
      if (command != nullptr) parameters = keywordParameters;
    }
    if (command == nullptr) *equals = '=';
  }

  if (command == nullptr) {
    char* name = nullptr;
    if (commandText != nullptr) {
      name = commandText;
      parameters = requestText;
    } else {
      char* amp = std::strchr(requestText, delimiter);
      char* question = std::strchr(requestText, '?');
      char* separator = amp;
      if (question != nullptr && (separator == nullptr || question < separator)) {
        separator = question;
      }
      if (separator != nullptr && *separator == '?' && separator[1] == '\0') {
        *separator = '\0';
        separator = nullptr;
      }
      bool selected = false;
      if (*requestText != '\0') {
        char* firstEquals = std::strchr(requestText, '=');
        bool equalsBefore =
            firstEquals != nullptr && (separator == nullptr || firstEquals < separator);
        if (separator == nullptr || !equalsBefore) {
          char saved = '\0';
          if (separator != nullptr) {
            saved = *separator;
            *separator = '\0';
          }
          command = FindCommand(requestText);
          if (command != nullptr) {
            parameters = separator != nullptr ? separator + 1 : nullptr;
            selected = true;
          } else if (separator != nullptr) {
            *separator = saved;
          }
        }
      }
      if (!selected) parameters = requestText;
    }
    if (command == nullptr) {
      if (name != nullptr && *name != '\0') command = FindCommand(name);
      if (command == nullptr) return DispatchResult::CommandNotFound;
    }
    if (parameters != nullptr && *parameters == '\0') parameters = nullptr;
  }

  const ParamInfo* info = EnsureParamInfo(*command);
  char* values[kMaxParameters] = {};
  DispatchResult bound = BindParameters(parameters, *info, delimiter, values);
  if (bound != DispatchResult::Ok) return bound;
  command->handler(*this, context, values);
  return DispatchResult::Ok;
}

void ExtensionServer::WriteErrorText(RequestContext& context, unsigned stringId,
                                     const char* insert) {
  HtmlStream& stream = *context.stream;
  char text[512];
  LoadModuleString(moduleInstance, stringId, text, sizeof text);
  const char* slot = insert != nullptr ? std::strstr(text, "%s") : nullptr;
  if (slot == nullptr) {
    stream << text;
    return;
  }
  stream.Write(text, static_cast<std::uint32_t>(slot - text));
  WriteEscaped(stream, insert);
  stream << slot + 2;
}

bool ExtensionServer::WriteErrorPage(RequestContext& context) {
  return WriteStatusPage(context, nullptr);
}

bool ExtensionServer::WriteStatusPage(RequestContext& context, const char* method) {
  if (!context.stream) return false;
  EXTENSION_CONTROL_BLOCK* request = context.request;
  const DWORD status = request->dwHttpStatusCode;
  const char* query = request->lpszQueryString != nullptr ? request->lpszQueryString : "";

  context.stream->Reset();
  context.endOfHeaders = 0;
  StartHtmlContent(context);

  char title[256];
  LoadModuleString(moduleInstance, IDS_HTTP_ERROR_TITLE, title, sizeof title);
  if (const char* slot = std::strstr(title, "%d")) {
    char number[16];
    std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(status));
    context.stream->Write(title, static_cast<std::uint32_t>(slot - title));
    *context.stream << number << slot + 2;
  } else {
    *context.stream << title;
  }

  switch (status) {
    case 400: {
      const char* shown = query;
      if (shown[0] == '\0' && request->lpszPathInfo != nullptr) shown = request->lpszPathInfo;
      WriteErrorText(context, IDS_HTTP_BAD_REQUEST, shown);
      break;
    }
    case 501:
      WriteErrorText(context, IDS_HTTP_NOT_IMPLEMENTED, method != nullptr ? method : query);
      break;
    case 413:
      WriteErrorText(context, IDS_HTTP_TOO_LARGE, nullptr);
      break;
    default:
      WriteErrorText(context, IDS_HTTP_SERVER_ERROR, nullptr);
      break;
  }
  EndHtmlContent(context);
  return true;
}

// Reads the whole body into `body` (NUL-terminated). Returns 0 on success, else the status to
// answer with: 413 for a body over the bound, 400 for one that cannot be read.
DWORD ExtensionServer::ReadBody(EXTENSION_CONTROL_BLOCK* request, std::unique_ptr<char[]>& body,
                                DWORD& length) {
  const bool unannounced = request->cbTotalBytes == kUnknownBodyLength;
  if (!unannounced && request->cbTotalBytes > kMaxRequestBody) return 413;
  const DWORD limit = unannounced ? kMaxRequestBody + 1 : request->cbTotalBytes;
  body = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(limit) + 1);

  DWORD have = request->cbAvailable < limit ? request->cbAvailable : limit;
  if (have > 0 && request->lpbData != nullptr) std::memcpy(body.get(), request->lpbData, have);
  while (have < limit) {
    DWORD want = limit - have;
    if (request->ReadClient(request->ConnID, body.get() + have, &want) == FALSE) return 400;
    if (want == 0) break;
    if (want > limit - have) want = limit - have;  // a host must not overfill the buffer
    have += want;
  }
  if (unannounced && have > kMaxRequestBody) return 413;
  body[have] = '\0';
  length = have;
  return 0;
}

DWORD ExtensionServer::HttpExtensionProc(EXTENSION_CONTROL_BLOCK* request) {
  request->dwHttpStatusCode = 0;
  RequestContext context(request);
  DWORD result = HSE_STATUS_SUCCESS;

  const char* method = request->lpszMethod != nullptr ? request->lpszMethod : "";
  char emptyQuery[1] = {'\0'};
  char* query = request->lpszQueryString != nullptr ? request->lpszQueryString : emptyQuery;
  std::unique_ptr<char[]> body;
  char* requestText = nullptr;
  char* commandText = nullptr;
  DWORD refusal = 0;
  const char* refusedMethod = nullptr;

  if (EqualsNoCase(method, "GET")) {
    requestText = query;
  } else if (EqualsNoCase(method, "POST")) {
    DWORD length = 0;
    refusal = ReadBody(request, body, length);
    requestText = body.get();
    commandText = query;
  } else {
    refusal = 501;
    refusedMethod = method;
  }

  if (refusal != 0) {
    // Never dispatched: the client still learns why, with the matching status.
    result = HSE_STATUS_ERROR;
    request->dwHttpStatusCode = refusal;
    context.stream = CreateStream();
    if (!context.stream || !WriteStatusPage(context, refusedMethod)) context.stream.reset();
  } else {
    TrimEnd(requestText);
    BeginRequest(context);
    request->dwHttpStatusCode = 200;
    DispatchResult dispatched;
    try {
      dispatched = CallCommand(context, requestText, commandText);
    } catch (...) {
      dispatched = DispatchResult::HandlerFailed;
    }
    if (dispatched != DispatchResult::Ok) {
      result = HSE_STATUS_ERROR;
      switch (dispatched) {
        case DispatchResult::BadParamCount:
        case DispatchResult::BadParam:
          request->dwHttpStatusCode = 400;
          break;
        case DispatchResult::CommandNotFound:
          request->dwHttpStatusCode = 501;
          break;
        case DispatchResult::NoStream:
          request->dwHttpStatusCode = 204;
          break;
        default:
          request->dwHttpStatusCode = 500;
          break;
      }
      if (!WriteErrorPage(context)) context.stream.reset();
    }
  }

  std::uint32_t length = 0;
  DetachedBuffer content;
  if (context.stream) {
    length = context.stream->length();
    content = context.stream->Detach();
  }
  Send(context, std::move(content), length, result);
  return result;
}

void ExtensionServer::Send(RequestContext& context, DetachedBuffer content, std::uint32_t length,
                           DWORD& result) {
  if (!context.sendHeaders) return;
  EXTENSION_CONTROL_BLOCK* request = context.request;
  char statusLine[64];
  FormatStatusLine(request->dwHttpStatusCode, statusLine, sizeof statusLine);

  std::uint32_t headerLength = content ? context.endOfHeaders : 0;
  if (headerLength > length) headerLength = length;
  std::unique_ptr<char[]> header;
  if (content) {
    header = std::make_unique_for_overwrite<char[]>(headerLength + 1);
    std::memcpy(header.get(), content.get(), headerLength);
    header[headerLength] = '\0';
  }
  SetLastErrorCode(0);
  if (request->ServerSupportFunction(request->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, statusLine,
                                     nullptr, reinterpret_cast<LPDWORD>(header.get())) == FALSE &&
      LastError() != WSAECONNRESET) {
    request->dwHttpStatusCode = 500;
    result = HSE_STATUS_ERROR;
    return;
  }
  if (!content) return;

  char blankLine[] = "\r\n";
  DWORD two = 2;
  if (request->WriteClient(request->ConnID, blankLine, &two, 0) == FALSE) {
    request->dwHttpStatusCode = 500;
    result = HSE_STATUS_ERROR;
    return;
  }
  if (!WriteBody(context, content.get() + headerLength, length - headerLength)) {
    request->dwHttpStatusCode = 500;
    result = HSE_STATUS_ERROR;
  }
}

}  // namespace vormel

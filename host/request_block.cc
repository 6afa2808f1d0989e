#include "host/request_block.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vormel {

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Upper(x) == Upper(y); });
}

bool IsTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Fields whose framing or connection meaning belongs to the host, not to the module.
bool IsHostField(std::string_view name) {
  return EqualsNoCase(name, "Content-Length") || EqualsNoCase(name, "Transfer-Encoding") ||
         EqualsNoCase(name, "Connection") || EqualsNoCase(name, "Keep-Alive") ||
         EqualsNoCase(name, "Upgrade");
}

// "HTTP_USER_AGENT" names the field "User-Agent".
bool VariableNamesField(std::string_view variable, std::string_view field) {
  return variable.size() == field.size() &&
         std::equal(field.begin(), field.end(), variable.begin(),
                    [](char f, char v) { return f == '-' ? v == '_' : Upper(f) == v; });
}

ModuleCall& Self(HCONN conn) { return *static_cast<ModuleCall*>(conn); }

}  // namespace

std::string_view FindHeader(std::span<const HeaderField> headers, std::string_view name) {
  for (const HeaderField& field : headers) {
    if (EqualsNoCase(field.name, name)) return field.value;
  }
  return {};
}

ModuleCall::ModuleCall() {
  strings_.reserve(1024);
  header_section_.reserve(512);
}

void ModuleCall::Run(HttpExtensionProcFn proc, const ModuleRequest& request, Reply& reply) {
  reply.Clear();
  request_ = &request;
  reply_ = &reply;
  header_section_.clear();
  phase_ = Phase::kNothingSent;
  client_gone_ = false;
  last_probe_ = std::chrono::steady_clock::now();

  // Writable, NUL-terminated copies: the module cuts its query string in place.
  std::string_view content_type = FindHeader(request.headers, "Content-Type");
  const std::string_view texts[] = {request.method, request.query, request.path, content_type,
                                    request.path_translated};
  std::size_t offsets[std::size(texts)];
  strings_.clear();
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    offsets[i] = strings_.size();
    strings_.append(texts[i]);
    strings_ += '\0';
  }
  auto text = [&](std::size_t i) { return strings_.data() + offsets[i]; };

  block_ = EXTENSION_CONTROL_BLOCK{};
  block_.cbSize = sizeof block_;
  block_.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  block_.ConnID = this;
  block_.lpszMethod = text(0);
  block_.lpszQueryString = text(1);
  block_.lpszPathInfo = text(2);
  block_.lpszContentType = text(3);
  block_.lpszPathTranslated = text(4);
  block_.cbTotalBytes = static_cast<DWORD>(request.body.size());
  block_.cbAvailable = static_cast<DWORD>(std::min(request.body.size(), kBodyUpFront));
  // The module only reads the body; the block's type is simply not const.
  block_.lpbData = reinterpret_cast<LPBYTE>(const_cast<char*>(request.body.data()));  // NOLINT
  block_.GetServerVariable = &ModuleCall::GetServerVariable;
  block_.WriteClient = &ModuleCall::WriteClient;
  block_.ReadClient = &ModuleCall::ReadClient;
  block_.ServerSupportFunction = &ModuleCall::ServerSupportFunction;
  body_read_ = block_.cbAvailable;

  result_ = proc(&block_);
  reported_status_ = block_.dwHttpStatusCode;
  Finish();
  reply.OwnBody();
  request_ = nullptr;
  reply_ = nullptr;
}

void ModuleCall::Finish() {
  switch (phase_) {
    case Phase::kNothingSent:
      // Nothing came from the module: its status code stands, or its result decides.
      if (reported_status_ >= 200 && reported_status_ <= 599) {
        reply_->status = static_cast<int>(reported_status_);
      } else {
        reply_->status = result_ == HSE_STATUS_ERROR ? 500 : 200;
      }
      break;
    case Phase::kHeaderSection:
      // The header section never ended: a last unterminated line is still a field.
      if (!header_section_.empty()) ParseHeaderLine(header_section_);
      header_section_.clear();
      break;
    case Phase::kBody:
      break;
  }
}

bool ModuleCall::ClientGone() {
  if (client_gone_ || !request_->client_gone) return client_gone_;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_probe_ < kProbeInterval) return false;
  last_probe_ = now;
  client_gone_ = request_->client_gone();
  return client_gone_;
}

bool ModuleCall::SendHeader(const char* status_line, const char* header_text) {
  std::string_view line = status_line ? status_line : "200 OK";
  line = line.substr(0, line.find_first_of("\r\n"));
  line = TrimBlanks(line);
  int status = 0;
  std::size_t digits = 0;
  while (digits < line.size() && digits < 3 && line[digits] >= '0' && line[digits] <= '9') {
    status = status * 10 + (line[digits] - '0');
    ++digits;
  }
  bool valid =
      digits == 3 && status >= 200 && status <= 599 && (line.size() == 3 || line[3] == ' ');
  if (valid) {
    reply_->status = status;
    reply_->reason.assign(TrimBlanks(line.substr(3)));
  } else {
    reply_->status = 500;
    reply_->reason.clear();
  }
  phase_ = Phase::kHeaderSection;
  if (header_text) AppendHeaderBytes(header_text);
  return true;
}

void ModuleCall::AppendHeaderBytes(std::string_view bytes) {
  header_section_.append(bytes);
  std::size_t start = 0;
  while (true) {
    std::size_t newline = header_section_.find('\n', start);
    if (newline == std::string::npos) break;
    std::string_view line(header_section_.data() + start, newline - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    start = newline + 1;
    if (line.empty()) {
      phase_ = Phase::kBody;
      reply_->body_storage.append(header_section_, start);
      header_section_.clear();
      return;
    }
    ParseHeaderLine(line);
  }
  header_section_.erase(0, start);
}

void ModuleCall::ParseHeaderLine(std::string_view line) {
  if (line.empty() || line.front() == ' ' || line.front() == '\t') return;  // folded lines
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  // "Content-type : image/gif" is meant as Content-type; take the name without the blanks.
  std::string_view name = TrimBlanks(line.substr(0, colon));
  std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (name.empty() || !std::all_of(name.begin(), name.end(), IsTokenChar)) return;
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7f) return;
  }
  if (IsHostField(name)) return;
  if (EqualsNoCase(name, "Date")) reply_->has_date = true;
  if (EqualsNoCase(name, "Server")) reply_->has_server = true;
  std::string& fields = reply_->fields;
  fields.append(name);
  fields += ": ";
  fields.append(value);
  fields += "\r\n";
}

BOOL WINAPI ModuleCall::WriteClient(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD) {
  ModuleCall& self = Self(conn);
  if (!bytes || (!buffer && *bytes != 0)) {
    errno = EINVAL;
    return FALSE;
  }
  if (self.ClientGone()) {
    errno = ECONNRESET;
    return FALSE;
  }
  std::string_view data(static_cast<const char*>(buffer), *bytes);
  switch (self.phase_) {
    case Phase::kNothingSent:
      // Bytes without a header send are the body of a plain 200 response.
      self.phase_ = Phase::kBody;
      self.reply_->status = 200;
      self.reply_->body_storage.append(data);
      break;
    case Phase::kHeaderSection:
      self.AppendHeaderBytes(data);
      break;
    case Phase::kBody:
      self.reply_->body_storage.append(data);
      break;
  }
  return TRUE;
}

BOOL WINAPI ModuleCall::ReadClient(HCONN conn, LPVOID buffer, LPDWORD size) {
  ModuleCall& self = Self(conn);
  if (!size || (!buffer && *size != 0)) {
    errno = EINVAL;
    return FALSE;
  }
  std::string_view body = self.request_->body;
  std::size_t count = std::min<std::size_t>(*size, body.size() - self.body_read_);
  if (count) std::memcpy(buffer, body.data() + self.body_read_, count);
  self.body_read_ += count;
  *size = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI ModuleCall::ServerSupportFunction(HCONN conn, DWORD request, LPVOID buffer, LPDWORD,
                                              LPDWORD data_type) {
  ModuleCall& self = Self(conn);
  switch (request) {
    case HSE_REQ_SEND_RESPONSE_HEADER:
      if (self.ClientGone()) {
        errno = ECONNRESET;
        return FALSE;
      }
      if (self.phase_ != Phase::kNothingSent) {
        errno = EIO;  // the response has begun; a second status line cannot follow
        return FALSE;
      }
      return self.SendHeader(static_cast<const char*>(buffer),
                             reinterpret_cast<const char*>(data_type))
                 ? TRUE
                 : FALSE;
    case HSE_REQ_SEND_URL_REDIRECT_RESP: {
      std::string_view url = buffer ? static_cast<const char*>(buffer) : "";
      if (self.phase_ != Phase::kNothingSent || url.empty() ||
          url.find_first_of("\r\n") != std::string_view::npos) {
        errno = EINVAL;
        return FALSE;
      }
      self.reply_->status = 302;
      self.reply_->fields.append("Location: ").append(url).append("\r\n");
      self.phase_ = Phase::kBody;
      return TRUE;
    }
    case HSE_REQ_DONE_WITH_SESSION:
      return TRUE;
    default:
      errno = EINVAL;
      return FALSE;
  }
}

bool ModuleCall::LookUpVariable(std::string_view name, std::string_view& value) {
  const ModuleRequest& request = *request_;
  auto number = [&](std::size_t n) {
    scratch_ = std::to_string(n);
    value = scratch_;
    return true;
  };
  if (name == "REMOTE_ADDR" || name == "REMOTE_HOST") {
    value = request.remote_addr;
  } else if (name == "REMOTE_PORT") {
    return number(request.remote_port);
  } else if (name == "SERVER_NAME") {
    std::string_view host = FindHeader(request.headers, "Host");
    if (host.empty()) {
      value = request.server_addr;
    } else if (host.front() == '[') {
      value = host.substr(0, host.find(']') + 1);
    } else {
      value = host.substr(0, host.find(':'));
    }
  } else if (name == "SERVER_PORT") {
    return number(request.server_port);
  } else if (name == "SERVER_PROTOCOL") {
    value = request.version;
  } else if (name == "SERVER_SOFTWARE") {
    value = "Vormel/" VORMEL_HOST_VERSION;
  } else if (name == "REQUEST_METHOD") {
    value = request.method;
  } else if (name == "QUERY_STRING") {
    value = request.query;  // as received, whatever the module cut in its copy
  } else if (name == "CONTENT_LENGTH") {
    return number(request.body.size());
  } else if (name == "CONTENT_TYPE") {
    value = FindHeader(request.headers, "Content-Type");
  } else if (name == "PATH_INFO" || name == "SCRIPT_NAME" || name == "URL") {
    value = request.path;
  } else if (name == "PATH_TRANSLATED") {
    value = request.path_translated;
  } else if (name == "HTTP_USER_AGENT") {
    value = FindHeader(request.headers, "User-Agent");
  } else if (name == "HTTP_REFERER") {
    value = FindHeader(request.headers, "Referer");
  } else if (name.starts_with("HTTP_")) {
    std::string_view wanted = name.substr(5);
    for (const HeaderField& field : request.headers) {
      if (VariableNamesField(wanted, field.name)) {
        value = field.value;
        return true;
      }
    }
    return false;  // a field the request does not carry
  } else {
    return false;
  }
  return true;
}

BOOL ModuleCall::CopyVariable(std::string_view value, LPVOID buffer, LPDWORD size) {
  DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    errno = ENOBUFS;  // the module's ERROR_INSUFFICIENT_BUFFER
    return FALSE;
  }
  if (!value.empty()) std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *size = needed;
  return TRUE;
}

BOOL WINAPI ModuleCall::GetServerVariable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size) {
  ModuleCall& self = Self(conn);
  if (!name || !size) {
    errno = EINVAL;
    return FALSE;
  }
  std::string_view value;
  if (!self.LookUpVariable(name, value)) {
    errno = ENOENT;  // the module's ERROR_INVALID_INDEX
    return FALSE;
  }
  return CopyVariable(value, buffer, size);
}

}  // namespace vormel

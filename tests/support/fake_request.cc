#include "tests/support/fake_request.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"

namespace vormel::testing {

FakeRequest::FakeRequest(std::string method, std::string query, std::string body,
                         std::size_t availableUpFront, std::size_t readPiece)
    : method_(std::move(method)), body_(std::move(body)), readPiece_(readPiece) {
  query_.assign(query.begin(), query.end());
  query_.push_back('\0');
  block_.cbSize = sizeof block_;
  block_.dwVersion = 0x40000;
  block_.ConnID = this;
  block_.lpszMethod = method_.data();
  block_.lpszQueryString = query_.data();
  block_.lpszPathInfo = pathInfo_.data();
  block_.lpszPathTranslated = pathInfo_.data();
  block_.lpszContentType = contentType_.data();
  block_.cbTotalBytes = static_cast<DWORD>(body_.size());
  std::size_t upFront = std::min(availableUpFront, body_.size());
  block_.cbAvailable = static_cast<DWORD>(upFront);
  block_.lpbData = reinterpret_cast<LPBYTE>(body_.data());
  readOffset_ = upFront;
  block_.GetServerVariable = &Variable;
  block_.WriteClient = &Write;
  block_.ReadClient = &Read;
  block_.ServerSupportFunction = &ServerSupport;
}

std::string FakeRequest::Written() const {
  std::string all;
  for (const std::string& w : writes) all += w;
  return all;
}

BOOL WINAPI FakeRequest::ServerSupport(HCONN conn, DWORD request, LPVOID buffer, LPDWORD,
                                       LPDWORD dataType) {
  auto* self = static_cast<FakeRequest*>(conn);
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return FALSE;
  HeaderSend send;
  send.statusLine = static_cast<const char*>(buffer);
  if (dataType != nullptr) {
    send.hadHeader = true;
    send.header = reinterpret_cast<const char*>(dataType);
  }
  self->headerSends.push_back(send);
  if (self->failHeaderSend) {
    SetLastErrorCode(self->headerSendError);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FakeRequest::Write(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD) {
  auto* self = static_cast<FakeRequest*>(conn);
  int index = static_cast<int>(self->writes.size());
  self->writes.emplace_back(static_cast<const char*>(buffer), *bytes);
  if (index == self->failWriteNumber) {
    SetLastErrorCode(WSAECONNRESET);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI FakeRequest::Read(HCONN conn, LPVOID buffer, LPDWORD size) {
  auto* self = static_cast<FakeRequest*>(conn);
  ++self->readCalls;
  if (self->failRead) return FALSE;
  std::size_t left = self->body_.size() - self->readOffset_;
  std::size_t n = std::min<std::size_t>({left, *size, self->readPiece_});
  std::memcpy(buffer, self->body_.data() + self->readOffset_, n);
  self->readOffset_ += n;
  *size = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI FakeRequest::Variable(HCONN, LPSTR, LPVOID, LPDWORD) { return FALSE; }

std::string StatusOf(const FakeRequest& request) {
  return request.headerSends.empty() ? std::string() : request.headerSends.front().statusLine;
}

}  // namespace vormel::testing

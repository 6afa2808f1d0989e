// A simulated request block for tests: records every header send and client write, and serves
// a POST body through ReadClient in pieces. One FakeRequest per request; single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/isapi.h"

namespace vormel::testing {

struct HeaderSend {
  std::string statusLine;
  bool hadHeader = false;
  std::string header;
};

class FakeRequest {
 public:
  FakeRequest(std::string method, std::string query, std::string body = {},
              std::size_t availableUpFront = 0, std::size_t readPiece = 7);

  EXTENSION_CONTROL_BLOCK* block() { return &block_; }
  const char* query() const { return query_.data(); }

  // Everything the client would receive: status line and header block, then writes.
  std::vector<HeaderSend> headerSends;
  std::vector<std::string> writes;
  std::string Written() const;  // all writes joined

  // Failure injection.
  bool failHeaderSend = false;
  DWORD headerSendError = 0;
  int failWriteNumber = -1;  // index of the WriteClient call that fails
  bool failRead = false;
  int readCalls = 0;

 private:
  static BOOL WINAPI ServerSupport(HCONN conn, DWORD request, LPVOID buffer, LPDWORD size,
                                   LPDWORD dataType);
  static BOOL WINAPI Write(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL WINAPI Read(HCONN conn, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI Variable(HCONN conn, LPSTR name, LPVOID buffer, LPDWORD size);

  EXTENSION_CONTROL_BLOCK block_{};
  std::string method_;
  std::vector<char> query_;
  std::string body_;
  std::string pathInfo_ = "/Vormel.dll";
  std::string contentType_;
  std::size_t readOffset_ = 0;
  std::size_t readPiece_;
};

// Splits a full response (status line through body) as a client sees it.
std::string StatusOf(const FakeRequest& request);

}  // namespace vormel::testing

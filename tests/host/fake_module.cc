// A stand-in extension module for the host's tests. The first word of the query string picks
// what it does, so each test drives the host's mapping on its own:
//   echo        "200 OK", the method, query, path, content type and the whole body (ReadClient)
//   status=N    sends the status line N with a reason, header text given in the query
//   headers     header text that itself ends the header section and carries body bytes
//   raw         WriteClient alone, without a header send
//   nothing=N   sends nothing and leaves dwHttpStatusCode at N
//   vars        server variables as name=value lines, sized first through the empty-buffer call
//   big=N       N bytes of body in one write
//   sleep=MS    waits, then answers "slept"
//   cut         cuts its own query string in place, then reports QUERY_STRING
//   probe=MS    writes every 20 ms for up to MS ms until WriteClient fails; reports errno as
//               dwHttpStatusCode
// The environment variable FAKE_MODULE_REFUSE makes GetExtensionVersion answer FALSE.
// TerminateExtension and the static destructor append a line to $VORMEL_HOME/fake_module.log.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/isapi.h"

using namespace vormel;

namespace {

std::string home_at_load;

void AppendToLog(const char* line) {
  if (home_at_load.empty()) return;
  std::string path = home_at_load + "/fake_module.log";
  if (FILE* file = std::fopen(path.c_str(), "a")) {
    std::fprintf(file, "%s\n", line);
    std::fclose(file);
  }
}

struct Lifetime {
  Lifetime() {
    if (const char* home = std::getenv("VORMEL_HOME")) home_at_load = home;
  }
  ~Lifetime() { AppendToLog("unloaded"); }
} lifetime;

bool Send(EXTENSION_CONTROL_BLOCK* block, const char* status, const char* headers) {
  return block->ServerSupportFunction(block->ConnID, HSE_REQ_SEND_RESPONSE_HEADER,
                                      const_cast<char*>(status), nullptr,
                                      reinterpret_cast<LPDWORD>(const_cast<char*>(headers)));
}

bool Write(EXTENSION_CONTROL_BLOCK* block, const std::string& bytes) {
  DWORD size = static_cast<DWORD>(bytes.size());
  return block->WriteClient(block->ConnID, const_cast<char*>(bytes.data()), &size, 0);
}

DWORD Answer(EXTENSION_CONTROL_BLOCK* block, const std::string& body) {
  Send(block, "200 OK", "Content-Type: text/plain\r\n");
  Write(block, "\r\n");
  Write(block, body);
  return HSE_STATUS_SUCCESS;
}

std::string ReadBody(EXTENSION_CONTROL_BLOCK* block, int& reads) {
  std::string body(reinterpret_cast<const char*>(block->lpbData), block->cbAvailable);
  reads = 0;
  while (body.size() < block->cbTotalBytes) {
    char piece[7000];
    DWORD size = sizeof piece;
    if (!block->ReadClient(block->ConnID, piece, &size) || size == 0) break;
    body.append(piece, size);
    ++reads;
  }
  return body;
}

std::string Variable(EXTENSION_CONTROL_BLOCK* block, const char* name) {
  DWORD size = 0;
  char name_copy[64];
  std::snprintf(name_copy, sizeof name_copy, "%s", name);
  if (block->GetServerVariable(block->ConnID, name_copy, nullptr, &size)) return "<no size>";
  if (errno == ENOENT) return "<missing>";
  std::string value(size, '\0');
  DWORD exact = size;
  if (!block->GetServerVariable(block->ConnID, name_copy, value.data(), &exact)) return "<fail>";
  if (exact != size || value.back() != '\0') return "<bad size>";
  value.pop_back();
  return value;
}

}  // namespace

VORMEL_EXPORT BOOL GetExtensionVersion(HSE_VERSION_INFO* version) {
  if (std::getenv("FAKE_MODULE_REFUSE")) return FALSE;
  version->dwExtensionVersion = (4 << 16) | 0;
  std::snprintf(version->lpszExtensionDesc, sizeof version->lpszExtensionDesc, "Fake Module");
  return TRUE;
}

VORMEL_EXPORT DWORD HttpExtensionProc(EXTENSION_CONTROL_BLOCK* block) {
  std::string query = block->lpszQueryString;
  std::string word = query.substr(0, query.find_first_of("=&?"));
  std::string argument =
      query.find('=') == std::string::npos ? "" : query.substr(query.find('=') + 1);
  block->dwHttpStatusCode = 200;

  if (word == "echo") {
    int reads = 0;
    std::string body = ReadBody(block, reads);
    return Answer(block, std::string("method=") + block->lpszMethod + "\nquery=" + query +
                             "\npath=" + block->lpszPathInfo + "\ntype=" + block->lpszContentType +
                             "\ntotal=" + std::to_string(block->cbTotalBytes) +
                             "\navailable=" + std::to_string(block->cbAvailable) +
                             "\nreads=" + std::to_string(reads) + "\nbody=" + body);
  }
  if (word == "status") {
    // status=404 Not Found&X-One: 1|X-Two: 2   ('|' stands for a line break in the header text)
    std::string status = argument.substr(0, argument.find('&'));
    std::string headers;
    if (argument.find('&') != std::string::npos) {
      for (char c : argument.substr(argument.find('&') + 1)) {
        if (c == '|') {
          headers += "\r\n";
        } else {
          headers += c;
        }
      }
      headers += "\r\n";
    }
    for (char& c : status) {
      if (c == '+') c = ' ';
    }
    Send(block, status.c_str(), headers.empty() ? nullptr : headers.c_str());
    Write(block, "\r\n");
    Write(block, "status body");
    return HSE_STATUS_SUCCESS;
  }
  if (word == "headers") {
    Send(block, "201 Created", "X-First: a\r\n\r\nbody in header text;");
    Write(block, " then more");
    return HSE_STATUS_SUCCESS;
  }
  if (word == "raw") {
    Write(block, "GIF89a raw bytes");
    return HSE_STATUS_SUCCESS;
  }
  if (word == "nothing") {
    block->dwHttpStatusCode = static_cast<DWORD>(std::atoi(argument.c_str()));
    return HSE_STATUS_ERROR;
  }
  if (word == "vars") {
    static const char* const kNames[] = {"REMOTE_ADDR",  "REMOTE_PORT",         "SERVER_NAME",
                                         "SERVER_PORT",  "HTTP_USER_AGENT",     "HTTP_REFERER",
                                         "QUERY_STRING", "REQUEST_METHOD",      "CONTENT_LENGTH",
                                         "CONTENT_TYPE", "HTTP_X_CUSTOM_FIELD", "NO_SUCH_VARIABLE"};
    std::string body;
    for (const char* name : kNames) body += std::string(name) + "=" + Variable(block, name) + "\n";
    char small[2];
    DWORD size = sizeof small;
    char name[] = "QUERY_STRING";
    BOOL fits = block->GetServerVariable(block->ConnID, name, small, &size);
    body += "small=" + std::to_string(fits) + "," + std::to_string(size) + "," +
            (errno == ENOBUFS ? "ENOBUFS" : "other") + "\n";
    return Answer(block, body);
  }
  if (word == "big") {
    return Answer(block, std::string(std::strtoul(argument.c_str(), nullptr, 10), 'b'));
  }
  if (word == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argument.c_str())));
    return Answer(block, "slept");
  }
  if (word == "cut") {
    block->lpszQueryString[1] = '\0';
    return Answer(block, std::string("cut=") + block->lpszQueryString +
                             " original=" + Variable(block, "QUERY_STRING"));
  }
  if (word == "probe") {
    auto end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argument.c_str()));
    while (std::chrono::steady_clock::now() < end) {
      errno = 0;
      if (!Write(block, "x")) {
        AppendToLog(errno == ECONNRESET ? "write failed: ECONNRESET" : "write failed: other");
        block->dwHttpStatusCode = static_cast<DWORD>(errno);
        return HSE_STATUS_ERROR;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return HSE_STATUS_SUCCESS;
  }
  block->dwHttpStatusCode = 501;
  Send(block, "501 Not Implemented", "Content-Type: text/plain\r\n");
  Write(block, "\r\n");
  Write(block, "no such behaviour");
  return HSE_STATUS_ERROR;
}

#if !defined(FAKE_MODULE_WITHOUT_TERMINATE)
VORMEL_EXPORT BOOL TerminateExtension(DWORD) {
  AppendToLog("terminated");
  return TRUE;
}
#endif

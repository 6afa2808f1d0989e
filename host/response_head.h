// A response as the host sends it: status, header fields and body, and the header section that
// goes on the wire with the Date, Server, Content-Length and Connection the host adds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vormel {

struct Reply {
  int status = 200;
  std::string reason;  // empty: the standard text for the status
  std::string fields;  // "Name: value\r\n" lines, already checked
  bool has_date = false;
  bool has_server = false;
  std::string body_storage;
  std::string_view body;  // into body_storage or static text

  // Keeps the buffers' capacity for the next request on the connection.
  void Clear();
  void SetBody(std::string_view text) { body = text; }
  void OwnBody() { body = body_storage; }
};

struct HeadOptions {
  bool http10 = false;        // the client spoke HTTP/1.0
  bool keep_alive = true;     // the connection stays open after this response
  bool head_request = false;  // HEAD: the length is announced, the body not sent
};

// The standard reason phrase, or "Unknown".
std::string_view ReasonPhrase(int status);

// Writes the status line and header section of the reply into out, replacing its content.
void WriteResponseHead(const Reply& reply, const HeadOptions& options, std::string& out);

// Whether the body travels: not for HEAD, 1xx, 204 or 304.
bool SendsBody(int status, bool head_request);

}  // namespace vormel

// The state of one call of the request flow: the web server's request block, the response
// stream and the sending flags. Made and destroyed by the flow; used by one thread.
#pragma once

#include <cstdint>
#include <memory>

#include "extension/html_stream.h"
#include "platform/isapi.h"

namespace vormel {

struct RequestContext {
  explicit RequestContext(EXTENSION_CONTROL_BLOCK* block) : request(block) {}

  // Appends text to the stream, when there is a stream and a text.
  RequestContext& operator<<(const char* text) {
    if (stream && text != nullptr) *stream << text;
    return *this;
  }

  bool sendHeaders = true;
  EXTENSION_CONTROL_BLOCK* request;
  std::unique_ptr<HtmlStream> stream;
  std::uint32_t endOfHeaders = 0;
};

}  // namespace vormel

// HTML escaping of text that came from a request or from the settings file: & < > " ' become
// character references, every other byte passes unchanged (so Shift-JIS bytes survive).
#pragma once

#include <cstddef>

#include "extension/html_stream.h"

namespace vormel {

// Appends the first `length` bytes of `text`, escaped, to `stream`.
void WriteEscaped(HtmlStream& stream, const char* text, std::size_t length);
// The same for a NUL-terminated text.
void WriteEscaped(HtmlStream& stream, const char* text);

}  // namespace vormel

#include "manager/html_escape.h"

#include <cstring>

namespace vormel {

void WriteEscaped(HtmlStream& stream, const char* text, std::size_t length) {
  std::size_t plainStart = 0;
  for (std::size_t i = 0; i < length; ++i) {
    const char* reference = nullptr;
    switch (text[i]) {
      case '&':
        reference = "&amp;";
        break;
      case '<':
        reference = "&lt;";
        break;
      case '>':
        reference = "&gt;";
        break;
      case '"':
        reference = "&quot;";
        break;
      case '\'':
        reference = "&#39;";
        break;
      default:
        continue;
    }
    stream.Write(text + plainStart, static_cast<std::uint32_t>(i - plainStart));
    stream << reference;
    plainStart = i + 1;
  }
  stream.Write(text + plainStart, static_cast<std::uint32_t>(length - plainStart));
}

void WriteEscaped(HtmlStream& stream, const char* text) {
  WriteEscaped(stream, text, std::strlen(text));
}

}  // namespace vormel

#include "manager/name_rules.h"

#include <cstring>

namespace vormel {
namespace {

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The common scan; with blanksOnlyLeading a blank is dropped only before the first kept byte.
CleanedText Clean(const char* input, bool blanksOnlyLeading) {
  CleanedText out;
  for (std::size_t i = 0; input[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(input[i]);
    if (byte == ' ' && (!blanksOnlyLeading || out.length == 0)) continue;
    if (byte == 0x81 && static_cast<unsigned char>(input[i + 1]) == 0x40) {
      ++i;
      continue;
    }
    if (out.length == kCleanedCapacity) break;
    out.text[out.length++] = input[i];
  }
  out.text[out.length] = '\0';
  return out;
}

bool IsShiftJisLead(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool IsShiftJisTrail(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

}  // namespace

CleanedText CleanName(const char* name) { return Clean(name, false); }

CleanedText CleanDescription(const char* desc) { return Clean(desc, true); }

bool IsAcceptableName(const char* name) {
  static constexpr char kRefused[] = "=[];,&%+?#\"'<>";
  for (const char* p = name; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    // The second byte of a Shift-JIS character may be '[' or ']' (0x81 0x5B is a long vowel
    // mark); inside a name those mean nothing to the file or the URL.
    if (IsShiftJisLead(byte) && IsShiftJisTrail(static_cast<unsigned char>(p[1]))) {
      ++p;
      continue;
    }
    if (IsControl(byte)) return false;
    if (std::strchr(kRefused, *p) != nullptr) return false;
  }
  return true;
}

bool IsAcceptableDescription(const char* desc) {
  for (const char* p = desc; *p != '\0'; ++p) {
    if (IsControl(static_cast<unsigned char>(*p))) return false;
  }
  return true;
}

bool PassesFirstByteTest(const char* text) {
  const auto first = static_cast<unsigned char>(text[0]);
  // Bytes from 0x80 count as used: a Shift-JIS name may begin with a lead byte.
  return first > 0x20;
}

}  // namespace vormel

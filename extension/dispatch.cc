#include "extension/dispatch.h"

#include <cstring>

namespace vormel {
namespace {

bool EqualsNoCase(const char* a, std::string_view b) {
  std::size_t n = std::strlen(a);
  if (n != b.size()) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

CommandEntry* FindCommand(const CommandTable* table, const char* name) {
  if (name == nullptr || name[0] == '\0') return nullptr;
  for (; table != nullptr; table = table->next) {
    for (CommandEntry& entry : table->commands) {
      if (EqualsNoCase(name, entry.name)) return &entry;
    }
  }
  return nullptr;
}

DispatchResult BindParameters(char* parameterText, const ParamInfo& info, char delimiter,
                              char** values) {
  const std::size_t n = info.count;
  bool given[kMaxParameters] = {};
  bool anyNamed = false;
  std::size_t positional = 0;
  std::size_t taken = 0;
  char* cursor = parameterText;

  while (cursor != nullptr && *cursor != '\0' && taken < n) {
    while (*cursor == delimiter) ++cursor;  // empty pieces are skipped
    if (*cursor == '\0') break;
    char* piece = cursor;
    char* end = std::strchr(piece, delimiter);
    if (end != nullptr) {
      *end = '\0';
      cursor = end + 1;
    } else {
      cursor = nullptr;
    }
    ++taken;

    char* equals = std::strchr(piece, '=');
    if (equals != nullptr) {
      *equals = '\0';
      std::size_t index = n;
      for (std::size_t i = 0; i < n; ++i) {
        if (EqualsNoCase(piece, info.names[i])) {
          index = i;
          break;
        }
      }
      if (index == n || given[index]) return DispatchResult::BadParam;
      values[index] = DecodeValue(equals + 1);
      given[index] = true;
      anyNamed = true;
    } else {
      if (anyNamed) return DispatchResult::BadParam;
      while (positional < n && given[positional]) ++positional;
      if (positional == n) return DispatchResult::BadParamCount;
      values[positional] = DecodeValue(piece);
      given[positional] = true;
    }
  }

  // Only the one delimiter that ended the last piece may follow it.
  if (cursor != nullptr && *cursor != '\0') return DispatchResult::BadParamCount;
  for (std::size_t i = 0; i < n; ++i) {
    if (!given[i]) return DispatchResult::BadParamCount;
  }
  return DispatchResult::Ok;
}

char* DecodeValue(char* text) {
  char* in = text;
  char* out = text;
  while (*in != '\0') {
    char c = *in;
    if (c == '+') {
      *out++ = ' ';
      ++in;
    } else if (c == '%') {
      if (in[1] == '\0' || in[2] == '\0') {
        *out++ = '?';
        break;
      }
      int high = HexDigit(in[1]);
      if (high < 0) {
        *out++ = '?';
        in += 2;
        continue;
      }
      int low = HexDigit(in[2]);
      if (low < 0) {
        *out++ = '?';
        in += 3;
        continue;
      }
      *out++ = static_cast<char>(high * 16 + low);
      in += 3;
    } else {
      *out++ = c;
      ++in;
    }
  }
  *out = '\0';
  return text;
}

}  // namespace vormel

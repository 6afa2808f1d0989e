#include "extension/command_table.h"

namespace vormel {

bool BuildParamInfo(const char* declaration, ParamInfo& info) {
  info = ParamInfo{};
  std::string_view text = declaration == nullptr ? std::string_view{} : declaration;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    std::size_t start = i;
    while (i < text.size() && text[i] != ' ') ++i;
    if (i == start) break;
    if (info.count == kMaxParameters) return false;
    info.names[info.count++] = text.substr(start, i - start);
  }
  info.required = info.count;
  return true;
}

}  // namespace vormel

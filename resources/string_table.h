// The string table compiled into the module on systems without resource sections.
#pragma once

#include <span>

namespace vormel {

struct StringEntry {
  unsigned id;
  const char* text;
};

std::span<const StringEntry> BuiltInStrings();

}  // namespace vormel

#include "resources/string_table.h"

namespace vormel {
namespace {

constexpr StringEntry kStrings[] = {
#define VORMEL_STRING(id, name, text) {id, text},
#include "resources/strings.inc"
#undef VORMEL_STRING
};

}  // namespace

std::span<const StringEntry> BuiltInStrings() { return kStrings; }

}  // namespace vormel

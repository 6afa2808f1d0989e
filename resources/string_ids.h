// Identifiers of the module's strings; the texts are in strings.inc.
#pragma once

namespace vormel {

#define VORMEL_STRING(id, name, text) inline constexpr unsigned name = id;
#include "resources/strings.inc"
#undef VORMEL_STRING

}  // namespace vormel

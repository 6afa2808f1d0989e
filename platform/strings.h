// Strings of the module's own string table, loaded by id through the module's instance handle.
#pragma once

#include <cstddef>

namespace vormel {

using ModuleInstance = void*;

// Copies string `id` into buffer (cut to size - 1 bytes, NUL-terminated) and returns its length;
// 0, with an empty buffer, when the table has no such string.
int LoadModuleString(ModuleInstance instance, unsigned id, char* buffer, int size);

// The handle of the module this code is linked into.
ModuleInstance CurrentModuleInstance();

}  // namespace vormel

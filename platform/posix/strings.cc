#include "platform/strings.h"

#include <dlfcn.h>

#include <cstring>

#include "resources/string_table.h"

namespace vormel {

int LoadModuleString(ModuleInstance, unsigned id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  for (const StringEntry& entry : BuiltInStrings()) {
    if (entry.id != id) continue;
    std::size_t length = std::strlen(entry.text);
    if (length > static_cast<std::size_t>(size - 1)) length = static_cast<std::size_t>(size - 1);
    std::memcpy(buffer, entry.text, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  return 0;
}

ModuleInstance CurrentModuleInstance() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&CurrentModuleInstance), &info) == 0) return nullptr;
  return info.dli_fbase;
}

}  // namespace vormel

#include "platform/strings.h"

#include <windows.h>

namespace vormel {

// The texts are the module's STRINGTABLE resource; a null instance means the module itself
// rather than the process's executable.
int LoadModuleString(ModuleInstance instance, unsigned id, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  buffer[0] = '\0';
  if (instance == nullptr) instance = CurrentModuleInstance();
  const int length = ::LoadStringA(static_cast<HINSTANCE>(instance), id, buffer, size);
  if (length <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

ModuleInstance CurrentModuleInstance() {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&CurrentModuleInstance), &module)) {
    return nullptr;
  }
  return module;
}

}  // namespace vormel

#include "host/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>

namespace vormel {

namespace {

std::string DlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    error = "cannot load module: " + DlError();
    return nullptr;
  }
  auto resolve = [&](const char* name) -> void* {
    dlerror();
    void* symbol = dlsym(handle, name);
    if (!symbol && error.empty()) error = "module " + path + " lacks the entry point " + name;
    return symbol;
  };
  error.clear();
  auto get_version = reinterpret_cast<GetExtensionVersionFn>(resolve("GetExtensionVersion"));
  auto proc = reinterpret_cast<HttpExtensionProcFn>(resolve("HttpExtensionProc"));
  auto terminate = reinterpret_cast<TerminateExtensionFn>(resolve("TerminateExtension"));
  if (!get_version || !proc || !terminate) {
    dlclose(handle);
    return nullptr;
  }
  HSE_VERSION_INFO version{};
  if (!get_version(&version)) {
    // Like the web server: a module that declines is unloaded without TerminateExtension.
    dlclose(handle);
    error = "module " + path + " refused to start (GetExtensionVersion answered FALSE)";
    return nullptr;
  }
  version.lpszExtensionDesc[sizeof version.lpszExtensionDesc - 1] = '\0';
  return std::make_unique<Module>(handle, proc, terminate, version);
}

Module::Module(void* handle, HttpExtensionProcFn proc, TerminateExtensionFn terminate,
               const HSE_VERSION_INFO& version)
    : handle_(handle), proc_(proc), terminate_(terminate), version_(version) {}

Module::~Module() { Unload(); }

bool Module::Terminate() {
  if (terminated_) return true;
  terminated_ = true;
  return terminate_(HSE_TERM_MUST_UNLOAD) != FALSE;
}

void Module::Unload() {
  if (!handle_) return;
  Terminate();
  dlclose(handle_);
  handle_ = nullptr;
}

std::string DefaultModulePath() {
  std::array<char, 4096> buffer{};
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "Vormel.so";
  std::string self(buffer.data(), static_cast<std::size_t>(n));
  std::size_t slash = self.rfind('/');
  return self.substr(0, slash + 1) + "Vormel.so";
}

}  // namespace vormel

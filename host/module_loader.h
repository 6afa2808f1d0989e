// The extension module, loaded as the web server loads it: dlopen, exactly the three entry
// points, GetExtensionVersion once. Unload calls TerminateExtension and then dlclose, which runs
// the module's static destruction.
#pragma once

#include <memory>
#include <string>

#include "platform/isapi.h"

namespace vormel {

class Module {
 public:
  // Null with a one-line reason when the file cannot be loaded, an entry point is missing or
  // GetExtensionVersion answers FALSE.
  static std::unique_ptr<Module> Load(const std::string& path, std::string& error);

  Module(void* handle, HttpExtensionProcFn proc, TerminateExtensionFn terminate,
         const HSE_VERSION_INFO& version);
  ~Module();  // Unload() when not done yet
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  HttpExtensionProcFn proc() const { return proc_; }
  const HSE_VERSION_INFO& version() const { return version_; }

  // TerminateExtension(HSE_TERM_MUST_UNLOAD) once; its answer.
  bool Terminate();
  // Terminate, then dlclose. Only once no request is inside the module.
  void Unload();

 private:
  void* handle_;
  HttpExtensionProcFn proc_;
  TerminateExtensionFn terminate_;
  HSE_VERSION_INFO version_;
  bool terminated_ = false;
};

// Vormel.so in the directory of the running program.
std::string DefaultModulePath();

}  // namespace vormel

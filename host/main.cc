// vormel-host: loads the Vormel module and serves it over HTTP.
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "host/access_log.h"
#include "host/first_run.h"
#include "host/module_loader.h"
#include "host/options.h"
#include "host/server.h"

namespace {

int Refuse(const std::string& why) {
  std::fprintf(stderr, "vormel-host: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace vormel;
  Options options;
  std::string error;
  if (!ParseOptions(std::span<const char* const>(argv + 1, static_cast<std::size_t>(argc - 1)),
                    options, error)) {
    std::fprintf(stderr, "vormel-host: %s (try --help)\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fwrite(UsageText().data(), 1, UsageText().size(), stdout);
    return 0;
  }
  // A client that goes away must not kill the process through a write to its socket or pipe.
  ::signal(SIGPIPE, SIG_IGN);

  std::error_code fs_error;
  std::filesystem::create_directories(options.home, fs_error);
  std::filesystem::path home = std::filesystem::weakly_canonical(
      std::filesystem::absolute(options.home, fs_error), fs_error);
  if (fs_error || !std::filesystem::is_directory(home)) {
    return Refuse("cannot use home directory " + options.home);
  }
  // The module finds its settings file through this, so it is set before the module loads.
  ::setenv("VORMEL_HOME", home.c_str(), 1);

  FirstRunResult first_run = EnsureSettingsFile(home.string());
  if (!first_run.ok) return Refuse(first_run.error);

  std::unique_ptr<AccessLog> access_log;
  if (!options.access_log.empty()) {
    access_log = AccessLog::Open(options.access_log, error);
    if (!access_log) return Refuse(error);
  }

  std::string module_path = options.module.empty() ? DefaultModulePath() : options.module;
  std::unique_ptr<Module> module = Module::Load(module_path, error);
  if (!module) return Refuse(error);
  const HSE_VERSION_INFO& version = module->version();
  std::fprintf(stderr, "vormel-host: loaded %s, version %u.%u, \"%s\"\n", module_path.c_str(),
               version.dwExtensionVersion >> 16, version.dwExtensionVersion & 0xffff,
               version.lpszExtensionDesc);

  ServerConfig config;
  config.listen_host = options.listen_host;
  config.listen_port = options.listen_port;
  config.threads = options.threads;
  config.handler = HandlerConfig{options.mount, module->proc()};
  config.module_path = module_path;
  config.read_timeout = std::chrono::seconds(options.read_timeout_seconds);
  config.idle_timeout = std::chrono::seconds(options.idle_timeout_seconds);
  config.max_connections = options.max_connections;
  config.access_log = access_log.get();
  std::unique_ptr<Server> server = Server::Create(std::move(config), error);
  if (!server) return Refuse(error);

  std::string manager_url = server->url() + options.mount.substr(options.mount.empty() ? 0 : 1) +
                            (options.mount.empty() ? "" : "/");
  std::fprintf(stderr, "vormel-host: home %s, %u threads, manager page %s\n", home.c_str(),
               options.threads, manager_url.c_str());
  if (first_run.new_password) {
    std::fprintf(stderr,
                 "vormel-host: first run: created %s/vormel.ini; the service password is %s\n"
                 "vormel-host: sign in at %s with it (it is shown only this once)\n",
                 home.c_str(), first_run.new_password->c_str(), manager_url.c_str());
  }

  // Last, so whoever waits for this line finds the startup lines above already written.
  std::printf("listening on %s\n", server->url().c_str());
  std::fflush(stdout);

  if (!server->Run()) {
    // A request is still inside the module: unloading it would pull the code from under it.
    // exit() still runs the module's static destruction through its atexit handlers.
    std::fprintf(stderr, "vormel-host: requests still running after the grace period\n");
    module->Terminate();
    (void)server.release();  // NOLINT: its threads are still running
    (void)module.release();  // NOLINT
    std::exit(1);
  }
  server.reset();
  module->Unload();
  std::fprintf(stderr, "vormel-host: stopped\n");
  return 0;
}

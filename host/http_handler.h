// The request handler: picks what answers a request (the module for MOUNT/Vormel.dll, the
// sign-in page for / and MOUNT/, 404 otherwise) and fills the reply. No sockets, so tests call
// it directly.
#pragma once

#include <string>
#include <string_view>

#include "host/request_block.h"
#include "host/response_head.h"

namespace vormel {

struct HandlerConfig {
  std::string mount;  // "/cgi-bin", or empty for the root
  HttpExtensionProcFn proc = nullptr;
};

enum class Route { kModule, kSignIn, kNotFound };

// The module's file name matches without regard to case, as the original web server does.
Route RouteFor(std::string_view path, std::string_view mount);

// The sign-in page: a password form posted to MOUNT/Vormel.dll?list.
std::string SignInPage(std::string_view mount);

void HandleRequest(const HandlerConfig& config, const ModuleRequest& request, ModuleCall& call,
                   Reply& reply);

// A small HTML page for a status the host answers itself (400, 404, 413, 431...).
void HostErrorReply(int status, Reply& reply);

}  // namespace vormel

#include "host/http_handler.h"

#include <algorithm>

namespace vormel {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

Route RouteFor(std::string_view path, std::string_view mount) {
  if (path == "/") return Route::kSignIn;
  if (!path.starts_with(mount) || path.size() <= mount.size() || path[mount.size()] != '/') {
    return Route::kNotFound;
  }
  std::string_view file = path.substr(mount.size() + 1);
  if (file.empty()) return Route::kSignIn;
  return EqualsNoCase(file, "Vormel.dll") ? Route::kModule : Route::kNotFound;
}

std::string SignInPage(std::string_view mount) {
  std::string page;
  page.reserve(640);
  page +=
      "<!DOCTYPE html>\n"
      "<html><head><meta charset=\"utf-8\"><title>Vormel sign-in</title></head>\n"
      "<body>\n<h1>Vormel</h1>\n<form method=\"post\" action=\"";
  page.append(mount);
  page +=
      "/Vormel.dll?list\">\n"
      "<label>Password <input type=\"password\" name=\"pass\" autofocus></label>\n"
      "<button type=\"submit\">Sign in</button>\n</form>\n</body></html>\n";
  return page;
}

void HostErrorReply(int status, Reply& reply) {
  reply.Clear();
  reply.status = status;
  reply.fields = "Content-Type: text/html\r\n";
  std::string_view reason = ReasonPhrase(status);
  reply.body_storage = "<html><head><title>";
  reply.body_storage += std::to_string(status);
  reply.body_storage += ' ';
  reply.body_storage += reason;
  reply.body_storage += "</title></head><body><h1>";
  reply.body_storage += reason;
  reply.body_storage += "</h1></body></html>\n";
  reply.OwnBody();
}

void HandleRequest(const HandlerConfig& config, const ModuleRequest& request, ModuleCall& call,
                   Reply& reply) {
  switch (RouteFor(request.path, config.mount)) {
    case Route::kModule:
      call.Run(config.proc, request, reply);
      return;
    case Route::kSignIn:
      if (request.method != "GET" && request.method != "HEAD") {
        HostErrorReply(405, reply);
        reply.fields += "Allow: GET, HEAD\r\n";
        return;
      }
      reply.Clear();
      reply.fields = "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n";
      reply.body_storage = SignInPage(config.mount);
      reply.OwnBody();
      return;
    case Route::kNotFound:
      HostErrorReply(404, reply);
      return;
  }
}

}  // namespace vormel

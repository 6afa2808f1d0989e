// The HTTP server: keep-alive, pipelining and HTTP/1.0 on N threads, each with its own
// io_context and its share of the connections (a request inside the module holds up only the
// connections of its thread), with the limits that keep it alive under hostile clients. Run
// returns after SIGINT or SIGTERM once the requests in flight have finished, or once the grace
// period has passed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/access_log.h"
#include "host/http_handler.h"

namespace vormel {

struct ServerConfig {
  std::string listen_host = "127.0.0.1";
  std::uint16_t listen_port = 8080;
  unsigned threads = 1;
  HandlerConfig handler;
  std::string module_path;  // PATH_TRANSLATED
  std::chrono::seconds read_timeout{10};
  std::chrono::seconds idle_timeout{60};
  std::chrono::seconds grace{10};
  std::size_t max_connections = 4096;
  const AccessLog* access_log = nullptr;  // none: no access log
};

class Server {
 public:
  struct Impl;

  // Binds and listens; null with the reason when the address cannot be had.
  static std::unique_ptr<Server> Create(ServerConfig config, std::string& error);
  explicit Server(std::unique_ptr<Impl> impl);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // "http://127.0.0.1:PORT/" with the port actually bound.
  const std::string& url() const;

  // Serves until a stop signal, then lets requests in flight finish within the grace period.
  // False when some request was still inside the module after it: the server must then be
  // leaked, not destroyed, and the module not unloaded.
  bool Run();

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vormel

#include "host/options.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <thread>

namespace vormel {

namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number low, Number high, Number& out) {
  Number value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    return false;
  }
  out = value;
  return true;
}

// ADDR:PORT, with an IPv6 address in brackets.
bool ParseListen(std::string_view text, Options& options) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  }
  std::uint16_t port = 0;
  if (!ParseNumber<std::uint16_t>(text.substr(colon + 1), 0, 65535, port)) return false;
  options.listen_host = std::string(host);
  options.listen_port = port;
  return true;
}

// "/cgi-bin/" and "cgi-bin" both name the mount "/cgi-bin"; "/" is the root.
bool NormaliseMount(std::string_view text, std::string& mount) {
  if (text.empty() || text.front() != '/') return false;
  while (!text.empty() && text.back() == '/') text.remove_suffix(1);
  for (char c : text) {
    if (c == '?' || c == '#' || static_cast<unsigned char>(c) <= ' ') return false;
  }
  mount = std::string(text);
  return true;
}

}  // namespace

bool ParseOptions(std::span<const char* const> args, Options& options, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view name = args[i];
    std::string_view value;
    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else if (name.starts_with("--")) {
      if (i + 1 >= args.size()) {
        error = std::string(name) + " needs a value";
        return false;
      }
      value = args[++i];
    } else {
      error = "unexpected argument '" + std::string(name) + "'";
      return false;
    }
    bool ok = true;
    if (name == "--listen") {
      ok = ParseListen(value, options);
    } else if (name == "--home") {
      ok = !value.empty();
      options.home = std::string(value);
    } else if (name == "--mount") {
      ok = NormaliseMount(value, options.mount);
    } else if (name == "--threads") {
      ok = ParseNumber<unsigned>(value, 1, 1024, options.threads);
    } else if (name == "--access-log") {
      ok = !value.empty();
      options.access_log = std::string(value);
    } else if (name == "--module") {
      ok = !value.empty();
      options.module = std::string(value);
    } else if (name == "--read-timeout") {
      ok = ParseNumber<unsigned>(value, 1, 3600, options.read_timeout_seconds);
    } else if (name == "--idle-timeout") {
      ok = ParseNumber<unsigned>(value, 1, 3600, options.idle_timeout_seconds);
    } else if (name == "--max-connections") {
      ok = ParseNumber<std::size_t>(value, 1, 1'000'000, options.max_connections);
    } else {
      error = "unknown option " + std::string(name);
      return false;
    }
    if (!ok) {
      error = "bad value '" + std::string(value) + "' for " + std::string(name);
      return false;
    }
  }
  if (options.threads == 0) options.threads = std::max(1u, std::thread::hardware_concurrency());
  return true;
}

std::string_view UsageText() {
  return "usage: vormel-host [options]\n"
         "Serves the Vormel hit-counter module over HTTP.\n"
         "\n"
         "  --listen ADDR:PORT      address to listen on (default 127.0.0.1:8080; port 0 picks "
         "a free one)\n"
         "  --home DIR              settings directory, created when missing (default ./data)\n"
         "  --mount PATH            URL path of the module's folder (default /cgi-bin)\n"
         "  --threads N             request threads (default: one per core)\n"
         "  --access-log FILE|-     Common Log Format access log, '-' for stdout (default: "
         "none)\n"
         "  --module PATH           the module to load (default: Vormel.so beside this "
         "program)\n"
         "  --read-timeout SECONDS  time allowed for a request's header and body (default 10)\n"
         "  --idle-timeout SECONDS  how long an idle keep-alive connection stays open (default "
         "60)\n"
         "  --max-connections N     open connections at most; more are closed at once (default "
         "4096)\n"
         "  --help                  this text\n";
}

}  // namespace vormel

// Command-line options of vormel-host. ParseOptions fills Options from argv or explains, in
// one line, what is wrong; it never exits or prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vormel {

struct Options {
  std::string listen_host = "127.0.0.1";
  std::uint16_t listen_port = 8080;
  std::string home = "./data";
  std::string mount = "/cgi-bin";  // no trailing '/'; empty for the root
  unsigned threads = 0;            // 0: one per core
  std::string access_log;          // empty: none; "-": stdout
  std::string module;              // empty: Vormel.so beside the program
  unsigned read_timeout_seconds = 10;
  unsigned idle_timeout_seconds = 60;
  std::size_t max_connections = 4096;
  bool help = false;
};

// args excludes the program name.
bool ParseOptions(std::span<const char* const> args, Options& options, std::string& error);

std::string_view UsageText();

}  // namespace vormel

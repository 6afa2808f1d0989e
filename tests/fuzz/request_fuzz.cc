// Feeds arbitrary requests to the whole module in-process: the first byte picks the method and
// how much of the body is offered up front, the text up to the first '\n' is the query string
// and the rest is the body. Every request must get exactly one well-formed answer, images must
// decode, and the table must stay consistent with the [counter] keys of the settings file.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/ini_text.h"
#include "store/counter_extension.h"
#include "tests/renderer/gif_decode.h"
#include "tests/support/fake_request.h"

namespace {

// One server object per process: built on the first input over a fresh home.
std::unique_ptr<vormel::CounterExtension> server;
std::string home;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "request_fuzz: %s\n", what);
    std::abort();
  }
}

void Start() {
  char pattern[] = "/tmp/vormel-request-fuzz-XXXXXX";
  Check(::mkdtemp(pattern) != nullptr, "mkdtemp");
  home = pattern;
  std::ofstream(home + "/vormel.ini", std::ios::binary)
      << "[global]\r\npass=pw\r\ncommit=3600\r\n"
         "[counter]\r\nhome=5\r\nneg=-7\r\nmax=2147483647\r\n\x83\x65\x83\x58=1\r\n"
         "[desc]\r\nhome=Home,2024/01/01\r\n";
  ::setenv("VORMEL_HOME", home.c_str(), 1);
  server = std::make_unique<vormel::CounterExtension>();
  std::atexit([] {
    server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
  });
}

std::set<std::string> FileCounters() {
  std::ifstream in(home + "/vormel.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string bytes = text.str();
  vormel::IniDocument document = vormel::IniDocument::Parse(bytes);
  std::set<std::string> keys;
  for (std::string_view key : document.Keys("counter")) keys.emplace(key);
  return keys;
}

std::set<std::string> LiveCounters() {
  const vormel::CounterTable& table = server->table;
  Check(table.count >= 0 && table.count <= vormel::kMaxCounters, "count out of range");
  std::set<std::string> live;
  int offset = 0;
  for (int i = 0; i < table.count; ++i) {
    const int length = table.nameLengths[i];
    Check(length >= 2 && offset + length <= vormel::kNamesCapacity, "name length out of range");
    const char* name = table.names + offset;
    Check(static_cast<int>(std::strlen(name)) + 1 == length, "name length mismatch");
    if (name[0] != ' ') Check(live.emplace(name).second, "live name twice in the table");
    offset += length;
  }
  Check(offset == table.NamesUsed(), "NamesUsed disagrees with the entries");
  return live;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!server) Start();
  if (size == 0) return 0;
  static const char* const kMethods[] = {"GET", "POST", "post", "HEAD", "PUT", ""};
  const std::uint8_t control = data[0];
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t newline = rest.find('\n');
  const std::string query = rest.substr(0, newline);
  const std::string body = newline == std::string::npos ? "" : rest.substr(newline + 1);

  vormel::testing::FakeRequest request(kMethods[(control & 7) % 6], query, body,
                                       (control >> 3) & 7 ? body.size() / ((control >> 3) & 7) : 0,
                                       1 + (control >> 6) * 5);
  const vormel::DWORD result = server->HttpExtensionProc(request.block());
  Check(result == vormel::HSE_STATUS_SUCCESS || result == vormel::HSE_STATUS_ERROR,
        "unknown result");
  Check(request.headerSends.size() == 1, "not exactly one header send");
  const std::string& status = request.headerSends.front().statusLine;
  Check(status.size() > 4 && status[3] == ' ', "malformed status line");
  const std::string header = request.headerSends.front().header;
  const std::string written = request.Written();
  Check(written.empty() || written.rfind("\r\n", 0) == 0, "body not preceded by the blank line");
  const std::string content = written.empty() ? "" : written.substr(2);
  if (header.find("image/gif") != std::string::npos) {
    Check(status == "200 OK", "image with an error status");
    Check(header.find("Content-Length: " + std::to_string(content.size()) + "\r\n") !=
              std::string::npos,
          "Content-Length disagrees with the image");
    Check(vormel::testing::DecodeGif(reinterpret_cast<const unsigned char*>(content.data()),
                                     static_cast<int>(content.size()))
              .ok,
          "image does not decode");
  } else {
    // The manager's pages leave the content type to the web server.
    Check(header.empty() || header.find("Content-Type: text/html\r\n") != std::string::npos,
          "a page of another content type");
  }
  Check(LiveCounters() == FileCounters(), "table and file disagree on the counters");
  return 0;
}

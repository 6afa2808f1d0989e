#include "tests/reliability/reliability_support.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "platform/ini_text.h"

namespace vormel::testing {

HomeDir::HomeDir() {
  char pattern[] = "/tmp/vormel-reliability-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

HomeDir::~HomeDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void HomeDir::Write(const std::string& text) const {
  std::ofstream(settings(), std::ios::binary | std::ios::trunc) << text;
}

std::string ImageTarget(const std::string& name) {
  return "/cgi-bin/Vormel.dll?counter?p=df=" + name;
}

std::optional<Response> SendGet(Client& client, const std::string& target) {
  if (!client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) return std::nullopt;
  return client.Read();
}

namespace {

std::optional<Response> Post(int port, const std::string& target, const std::string& body) {
  Client client(port);
  if (!client.Send("POST " + target +
                   " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body)) {
    return std::nullopt;
  }
  return client.Read();
}

}  // namespace

std::string ManagerCommand(int port, const std::string& type, const std::string& name,
                           const std::string& desc) {
  std::optional<Response> response =
      Post(port, "/cgi-bin/Vormel.dll?command",
           "name=" + name + "&desc=" + desc + "&pass=" + kPass + "&type=" + type);
  if (!response || response->status != 200) return "";
  static const std::string kOpen = "<B><FONT COLOR=red>";
  const std::size_t begin = response->body.find(kOpen);
  if (begin == std::string::npos) return "";
  const std::size_t end = response->body.find("</FONT>", begin);
  return response->body.substr(begin + kOpen.size(), end - begin - kOpen.size());
}

std::map<std::string, long long> ListedValues(int port) {
  std::map<std::string, long long> values;
  std::optional<Response> response =
      Post(port, "/cgi-bin/Vormel.dll?list", std::string("pass=") + kPass);
  if (!response) return values;
  static const std::regex kRow("<TR[^>]*><TD>([^<]*)</TD><TD><IMG [^>]*lit=(-?[0-9]+)\"");
  for (std::sregex_iterator it(response->body.begin(), response->body.end(), kRow), end; it != end;
       ++it) {
    values[(*it)[1]] = std::stoll((*it)[2]);
  }
  return values;
}

std::optional<std::map<std::string, long long>> WholeFileCounters(const std::string& text) {
  if (text.empty() || !text.ends_with("\r\n")) return std::nullopt;
  static const std::regex kLine(R"(\[[^\]\r\n]+\]|[^=\r\n\[;][^=\r\n]*=[^\r\n]*|)");
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.ends_with('\r')) return std::nullopt;
    line.pop_back();
    if (!std::regex_match(line, kLine)) return std::nullopt;
  }
  const IniDocument document = IniDocument::Parse(text);
  if (!document.Find("global", "pass") || !document.Find("global", "commit")) return std::nullopt;
  static const std::regex kNumber("-?[0-9]+");
  std::map<std::string, long long> counters;
  for (std::string_view key : document.Keys("counter")) {
    const std::string value(*document.Find("counter", key));
    if (!std::regex_match(value, kNumber)) return std::nullopt;
    counters[std::string(key)] = std::stoll(value);
  }
  return counters;
}

}  // namespace vormel::testing

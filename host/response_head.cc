#include "host/response_head.h"

#include <time.h>

#include <array>
#include <charconv>

namespace vormel {

namespace {

// The Date field changes once a second; each thread formats it at most that often.
std::string_view DateField() {
  thread_local time_t cached_second = -1;
  thread_local std::array<char, 64> cached{};
  thread_local std::size_t cached_length = 0;
  time_t now = ::time(nullptr);
  if (now != cached_second) {
    tm utc{};
    gmtime_r(&now, &utc);
    cached_length =
        strftime(cached.data(), cached.size(), "Date: %a, %d %b %Y %H:%M:%S GMT\r\n", &utc);
    cached_second = now;
  }
  return {cached.data(), cached_length};
}

void AppendNumber(std::string& out, std::size_t value) {
  std::array<char, 24> digits{};
  auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
  out.append(digits.data(), end);
}

}  // namespace

void Reply::Clear() {
  status = 200;
  reason.clear();
  fields.clear();
  has_date = false;
  has_server = false;
  body_storage.clear();
  body = {};
}

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Unknown";
  }
}

bool SendsBody(int status, bool head_request) {
  return !head_request && status >= 200 && status != 204 && status != 304;
}

void WriteResponseHead(const Reply& reply, const HeadOptions& options, std::string& out) {
  out.clear();
  out.reserve(160 + reply.fields.size());
  out += "HTTP/1.1 ";
  AppendNumber(out, static_cast<std::size_t>(reply.status));
  out += ' ';
  out += reply.reason.empty() ? ReasonPhrase(reply.status) : std::string_view(reply.reason);
  out += "\r\n";
  out += reply.fields;
  if (!reply.has_date) out += DateField();
  if (!reply.has_server) out += "Server: Vormel/" VORMEL_HOST_VERSION "\r\n";
  if (reply.status >= 200 && reply.status != 204 && reply.status != 304) {
    out += "Content-Length: ";
    AppendNumber(out, reply.body.size());
    out += "\r\n";
  }
  if (!options.keep_alive) {
    out += "Connection: close\r\n";
  } else if (options.http10) {
    out += "Connection: keep-alive\r\n";
  }
  out += "\r\n";
}

}  // namespace vormel

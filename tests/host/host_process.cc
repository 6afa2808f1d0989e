#include "host_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace vormel::testing {

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

HostProcess::HostProcess(std::vector<std::string> args, std::vector<std::string> env) {
  char pattern[] = "/tmp/vormel-host-test-XXXXXX";
  if (!mkdtemp(pattern)) return;
  dir_ = pattern;
  int out[2];
  if (pipe(out) != 0) return;
  std::vector<std::string> argv = {VORMEL_HOST_PATH, "--listen", "127.0.0.1:0", "--home", home()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::string stderr_path = dir_ + "/stderr.txt";
  pid_ = fork();
  if (pid_ == 0) {
    dup2(out[1], STDOUT_FILENO);
    int err = open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(err, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    for (std::string& pair : env) putenv(pair.data());
    std::vector<char*> raw;
    for (std::string& arg : argv) raw.push_back(arg.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  close(out[1]);
  // The first stdout line names the port.
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{out[0], POLLIN, 0};
    if (poll(&entry, 1, 100) <= 0) continue;
    char c[256];
    ssize_t n = read(out[0], c, sizeof c);
    if (n <= 0) break;
    line.append(c, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const std::string prefix = "listening on http://127.0.0.1:";
  if (line.rfind(prefix, 0) == 0) port_ = std::atoi(line.c_str() + prefix.size());
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

std::string HostProcess::Stderr() const { return ReadFile(dir_ + "/stderr.txt"); }

std::optional<int> HostProcess::Wait(std::chrono::seconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::nullopt;
}

std::optional<int> HostProcess::Stop(int signal, std::chrono::seconds limit) {
  if (pid_ <= 0) return std::nullopt;
  kill(pid_, signal);
  return Wait(limit);
}

std::string Response::Field(const std::string& name) const {
  std::istringstream lines(head);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(line.substr(0, colon), name)) continue;
    std::string value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
    return value;
  }
  return {};
}

Client::Client(int port, std::chrono::milliseconds timeout) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  timeval tv{static_cast<time_t>(timeout.count() / 1000),
             static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

Client::~Client() { Close(); }

void Client::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool Client::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (fd_ >= 0 && sent < bytes.size()) {
    ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return fd_ >= 0;
}

bool Client::Fill() {
  char chunk[16384];
  ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) return false;
  buffer_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::optional<Response> Client::Read(bool head_request) {
  if (fd_ < 0) return std::nullopt;
  std::size_t end;
  while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
    if (!Fill()) return std::nullopt;
  }
  Response response;
  response.head = buffer_.substr(0, end + 4);
  buffer_.erase(0, end + 4);
  if (response.head.rfind("HTTP/1.", 0) != 0 || response.head.size() < 12) return std::nullopt;
  response.status = std::atoi(response.head.c_str() + 9);
  std::string length = response.Field("Content-Length");
  bool no_body =
      head_request || response.status == 204 || response.status == 304 || response.status < 200;
  if (no_body) return response;
  if (!length.empty()) {
    std::size_t size = std::stoul(length);
    while (buffer_.size() < size) {
      if (!Fill()) return std::nullopt;
    }
    response.body = buffer_.substr(0, size);
    buffer_.erase(0, size);
  } else {
    while (Fill()) {
    }
    response.body = std::move(buffer_);
    buffer_.clear();
  }
  return response;
}

bool Client::ClosedByPeer() {
  if (fd_ < 0) return true;
  char c;
  ssize_t n = recv(fd_, &c, 1, 0);
  return n == 0 || (n < 0 && errno == ECONNRESET);
}

std::optional<Response> Get(int port, const std::string& target) {
  Client client(port);
  if (!client.Send("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")) return std::nullopt;
  return client.Read();
}

}  // namespace vormel::testing

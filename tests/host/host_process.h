// Test helpers: a vormel-host child process on a free port with its own temporary home, and a
// small blocking HTTP client on raw sockets with a timeout on every read.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vormel::testing {

class HostProcess {
 public:
  // Starts vormel-host with --listen 127.0.0.1:0 --home <dir>/home plus args; env adds
  // NAME=value pairs to the child's environment.
  HostProcess(std::vector<std::string> args, std::vector<std::string> env = {});
  ~HostProcess();  // kills the child when it still runs, removes the directory

  bool started() const { return port_ != 0; }
  int port() const { return port_; }
  const std::string& dir() const { return dir_; }
  std::string home() const { return dir_ + "/home"; }
  std::string Stderr() const;

  // Sends the signal and waits for the exit; the exit status, or nullopt on timeout.
  std::optional<int> Stop(int signal, std::chrono::seconds limit = std::chrono::seconds(15));
  // Waits for an exit the child makes by itself.
  std::optional<int> Wait(std::chrono::seconds limit);

 private:
  std::string dir_;
  int pid_ = -1;
  int port_ = 0;
};

std::string ReadFile(const std::string& path);

struct Response {
  int status = 0;
  std::string head;  // status line and fields, up to and including the empty line
  std::string body;
  std::string Field(const std::string& name) const;  // first match, no regard to case
};

class Client {
 public:
  explicit Client(int port, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~Client();
  bool connected() const { return fd_ >= 0; }
  bool Send(const std::string& bytes);
  // Reads one response (Content-Length framing; to EOF without it). HEAD: no body expected.
  std::optional<Response> Read(bool head_request = false);
  // True when the server closes the connection within the timeout.
  bool ClosedByPeer();
  void Close();

 private:
  bool Fill();
  int fd_ = -1;
  std::string buffer_;
};

// One request on a fresh connection.
std::optional<Response> Get(int port, const std::string& target);

}  // namespace vormel::testing

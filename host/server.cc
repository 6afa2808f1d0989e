#include "host/server.h"

#include <poll.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace vormel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using ErrorCode = beast::error_code;

namespace {

constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kBodyLimit = 64 * 1024;
// After an error reply the host reads and drops what the client still sends, so the reply is
// not lost to a reset; this much and this long at most.
constexpr std::size_t kDrainLimit = 1024 * 1024;
constexpr std::chrono::seconds kDrainTime{2};

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

void Fail(ErrorCode ec, const char* what) {
  std::fprintf(stderr, "vormel-host: %s: %s\n", what, ec.message().c_str());
}

class Session;

}  // namespace

struct Server::Impl {
  explicit Impl(ServerConfig server_config)
      : config(std::move(server_config)),
        strand(asio::make_strand(ioc)),
        acceptor(strand),
        signals(strand, SIGINT, SIGTERM),
        accept_retry(strand) {}

  void Accept();
  void OnAccept(ErrorCode ec, tcp::socket socket);
  void BeginStop();
  void Forget(Session* session);

  ServerConfig config;
  std::string url;
  std::atomic<bool> stopping{false};

  // Guards the fields below; the cv wakes Run.
  std::mutex mutex;
  std::condition_variable changed;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  unsigned running_threads = 0;
  bool stop_requested = false;

  asio::io_context ioc;
  asio::strand<asio::io_context::executor_type> strand;
  tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::steady_timer accept_retry;
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket&& socket, Server::Impl& server)
      : stream_(std::move(socket)), server_(server) {
    ErrorCode ec;
    tcp::endpoint remote = stream_.socket().remote_endpoint(ec);
    if (!ec) {
      remote_addr_ = remote.address().to_string();
      remote_port_ = remote.port();
    }
    tcp::endpoint local = stream_.socket().local_endpoint(ec);
    if (!ec) {
      local_addr_ = local.address().to_string();
      local_port_ = local.port();
    }
    fields_.reserve(32);
  }

  ~Session() { server_.Forget(this); }

  void Start() {
    asio::dispatch(stream_.get_executor(),
                   beast::bind_front_handler(&Session::ReadNext, shared_from_this()));
  }

  // On a stop, an idle connection closes at once; a busy one after its response.
  void StopIfIdle() {
    asio::post(stream_.get_executor(), [self = shared_from_this()] {
      if (self->idle_) self->stream_.cancel();
    });
  }

 private:
  void ReadNext() {
    if (server_.stopping) return Close();
    if (buffer_.size() > 0) return ReadHeader();  // a pipelined request is already here
    idle_ = true;
    stream_.expires_after(server_.config.idle_timeout);
    stream_.async_read_some(buffer_.prepare(4096),
                            beast::bind_front_handler(&Session::OnIdleRead, shared_from_this()));
  }

  void OnIdleRead(ErrorCode ec, std::size_t bytes) {
    idle_ = false;
    if (ec == asio::error::eof || ec == beast::error::timeout ||
        ec == asio::error::operation_aborted || ec == asio::error::connection_reset) {
      return Close();
    }
    if (ec) {
      Fail(ec, "read");
      return Close();
    }
    buffer_.commit(bytes);
    ReadHeader();
  }

  void ReadHeader() {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    stream_.expires_after(server_.config.read_timeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            beast::bind_front_handler(&Session::OnHeader, shared_from_this()));
  }

  // The expected ways a request read ends early; true when the connection is done with.
  bool HandleReadError(ErrorCode ec) {
    if (!ec) return false;
    if (ec == http::error::header_limit) {
      Refuse(431);
    } else if (ec == http::error::body_limit) {
      Refuse(413);  // announced too large: refused before any of it is read
    } else if (ec == http::error::end_of_stream || ec == asio::error::eof ||
               ec == beast::error::timeout || ec == asio::error::operation_aborted ||
               ec == asio::error::connection_reset || ec == http::error::partial_message) {
      Close();
    } else if (ec.category() == http::make_error_code(http::error::bad_target).category()) {
      Refuse(400);
    } else {
      Fail(ec, "read");
      Close();
    }
    return true;
  }

  void OnHeader(ErrorCode ec, std::size_t) {
    if (HandleReadError(ec)) return;
    if (parser_->is_done()) return Respond();
    const auto& request = parser_->get();
    if (beast::iequals(request[http::field::expect], "100-continue")) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      stream_.expires_after(server_.config.read_timeout);
      return asio::async_write(
          stream_, asio::buffer(kContinue.data(), kContinue.size()),
          beast::bind_front_handler(&Session::OnContinueSent, shared_from_this()));
    }
    ReadBody();
  }

  void OnContinueSent(ErrorCode ec, std::size_t) {
    if (ec) return Close();
    ReadBody();
  }

  void ReadBody() {
    stream_.expires_after(server_.config.read_timeout);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnBody, shared_from_this()));
  }

  void OnBody(ErrorCode ec, std::size_t) {
    if (HandleReadError(ec)) return;
    Respond();
  }

  // The client has closed or reset its end; checked only when the module writes.
  bool PeerGone() {
    pollfd entry{stream_.socket().native_handle(), POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
  }

  void Respond() {
    stream_.expires_never();
    http::request<http::string_body>& request = parser_->get();
    std::string_view target = View(request.target());
    std::size_t question = target.find('?');
    fields_.clear();
    for (const auto& field : request)
      fields_.push_back({View(field.name_string()), View(field.value())});

    std::string_view version = request.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    ModuleRequest module_request;
    module_request.method = View(request.method_string());
    module_request.path = target.substr(0, question);
    if (question != std::string_view::npos) module_request.query = target.substr(question + 1);
    module_request.version = version;
    module_request.headers = fields_;
    module_request.body = request.body();
    module_request.remote_addr = remote_addr_;
    module_request.remote_port = remote_port_;
    module_request.server_addr = local_addr_;
    module_request.server_port = local_port_;
    module_request.path_translated = server_.config.module_path;
    module_request.client_gone = [this] { return PeerGone(); };

    HandleRequest(server_.config.handler, module_request, call_, reply_);
    if (call_.client_gone()) return Close();

    const bool head = request.method() == http::verb::head;
    keep_alive_ = request.keep_alive() && !server_.stopping;
    if (const AccessLog* log = server_.config.access_log) {
      log->Write({remote_addr_, module_request.method, target, version, reply_.status,
                  SendsBody(reply_.status, head) ? reply_.body.size() : 0});
    }
    Send(HeadOptions{request.version() == 10, keep_alive_, head});
  }

  void Refuse(int status) {
    HostErrorReply(status, reply_);
    keep_alive_ = false;
    if (const AccessLog* log = server_.config.access_log) {
      std::string_view method, target;
      if (parser_ && parser_->is_header_done()) {
        method = View(parser_->get().method_string());
        target = View(parser_->get().target());
      }
      log->Write({remote_addr_, method.empty() ? "-" : method, target.empty() ? "-" : target,
                  "HTTP/1.1", status, reply_.body.size()});
    }
    Send(HeadOptions{false, false, false});
  }

  void Send(const HeadOptions& options) {
    WriteResponseHead(reply_, options, head_);
    std::array<asio::const_buffer, 2> buffers{asio::buffer(head_), asio::const_buffer()};
    if (SendsBody(reply_.status, options.head_request)) {
      buffers[1] = asio::buffer(reply_.body.data(), reply_.body.size());
    }
    stream_.expires_after(server_.config.read_timeout);
    asio::async_write(stream_, buffers,
                      beast::bind_front_handler(&Session::OnWritten, shared_from_this()));
  }

  void OnWritten(ErrorCode ec, std::size_t) {
    if (ec == beast::error::timeout || ec == asio::error::broken_pipe ||
        ec == asio::error::connection_reset) {
      return Close();
    }
    if (ec) {
      Fail(ec, "write");
      return Close();
    }
    if (!keep_alive_) return CloseGracefully();
    parser_.reset();
    ReadNext();
  }

  // Ends our side and drops what the client still sends until it closes, so it reads the
  // whole response instead of a reset.
  void CloseGracefully() {
    ErrorCode ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return Close();
    drained_ = 0;
    stream_.expires_after(kDrainTime);
    Drain();
  }

  void Drain() {
    stream_.async_read_some(asio::buffer(drain_),
                            beast::bind_front_handler(&Session::OnDrained, shared_from_this()));
  }

  void OnDrained(ErrorCode ec, std::size_t bytes) {
    drained_ += bytes;
    if (ec || drained_ > kDrainLimit) return Close();
    Drain();
  }

  void Close() {
    ErrorCode ec;
    stream_.socket().close(ec);
  }

  beast::tcp_stream stream_;
  Server::Impl& server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  ModuleCall call_;
  Reply reply_;
  std::string head_;
  std::vector<HeaderField> fields_;
  std::string remote_addr_;
  std::uint16_t remote_port_ = 0;
  std::string local_addr_;
  std::uint16_t local_port_ = 0;
  bool idle_ = false;
  bool keep_alive_ = true;
  std::array<char, 4096> drain_{};
  std::size_t drained_ = 0;
};

}  // namespace

void Server::Impl::Accept() {
  acceptor.async_accept(asio::make_strand(ioc), [this](ErrorCode ec, tcp::socket socket) {
    OnAccept(ec, std::move(socket));
  });
}

void Server::Impl::OnAccept(ErrorCode ec, tcp::socket socket) {
  if (ec == asio::error::operation_aborted || stopping) return;
  if (ec) {
    // Out of descriptors, most likely: pause instead of spinning on the error.
    Fail(ec, "accept");
    accept_retry.expires_after(std::chrono::milliseconds(50));
    accept_retry.async_wait([this](ErrorCode wait_ec) {
      if (!wait_ec && !stopping) Accept();
    });
    return;
  }
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mutex);
    // Beyond the bound a connection is accepted and closed at once, so the backlog drains.
    if (sessions.size() < config.max_connections) {
      session = std::make_shared<Session>(std::move(socket), *this);
      sessions.emplace(session.get(), session);
    }
  }
  if (session) {
    session->Start();
  } else {
    ErrorCode close_ec;
    socket.close(close_ec);
  }
  Accept();
}

void Server::Impl::BeginStop() {
  stopping = true;
  ErrorCode ec;
  acceptor.close(ec);
  accept_retry.cancel();
  std::vector<std::shared_ptr<Session>> live;
  {
    std::lock_guard lock(mutex);
    stop_requested = true;
    for (auto& [key, weak] : sessions) {
      if (auto session = weak.lock()) live.push_back(std::move(session));
    }
  }
  changed.notify_all();
  for (auto& session : live) session->StopIfIdle();
}

void Server::Impl::Forget(Session* session) {
  {
    std::lock_guard lock(mutex);
    sessions.erase(session);
  }
  changed.notify_all();
}

std::unique_ptr<Server> Server::Create(ServerConfig config, std::string& error) {
  auto impl = std::make_unique<Impl>(std::move(config));
  ErrorCode ec;
  auto address = asio::ip::make_address(impl->config.listen_host, ec);
  if (ec) {
    error = "bad listen address " + impl->config.listen_host + ": " + ec.message();
    return nullptr;
  }
  tcp::endpoint endpoint(address, impl->config.listen_port);
  tcp::acceptor& acceptor = impl->acceptor;
  if (acceptor.open(endpoint.protocol(), ec) ||
      acceptor.set_option(asio::socket_base::reuse_address(true), ec) ||
      acceptor.bind(endpoint, ec) ||
      acceptor.listen(asio::socket_base::max_listen_connections, ec)) {
    error = "cannot listen on " + impl->config.listen_host + ":" +
            std::to_string(impl->config.listen_port) + ": " + ec.message();
    return nullptr;
  }
  tcp::endpoint bound = acceptor.local_endpoint(ec);
  std::string host = bound.address().to_string();
  if (bound.address().is_v6()) host = "[" + host + "]";
  impl->url = "http://" + host + ":" + std::to_string(bound.port()) + "/";
  return std::make_unique<Server>(std::move(impl));
}

Server::Server(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Server::~Server() = default;

const std::string& Server::url() const { return impl_->url; }

bool Server::Run() {
  Impl& impl = *impl_;
  impl.signals.async_wait([&impl](ErrorCode ec, int) {
    if (!ec) impl.BeginStop();
  });
  asio::dispatch(impl.strand, [&impl] { impl.Accept(); });

  std::vector<std::thread> threads;
  impl.running_threads = impl.config.threads;
  for (unsigned i = 0; i < impl.config.threads; ++i) {
    threads.emplace_back([&impl] {
      impl.ioc.run();
      {
        std::lock_guard lock(impl.mutex);
        --impl.running_threads;
      }
      impl.changed.notify_all();
    });
  }

  std::unique_lock lock(impl.mutex);
  impl.changed.wait(lock, [&] { return impl.stop_requested || impl.running_threads == 0; });
  auto deadline = std::chrono::steady_clock::now() + impl.config.grace;
  impl.changed.wait_until(lock, deadline,
                          [&] { return impl.sessions.empty() || impl.running_threads == 0; });
  lock.unlock();
  impl.ioc.stop();
  lock.lock();
  // A thread still inside the module cannot be stopped from here.
  bool finished = impl.changed.wait_for(lock, std::chrono::seconds(2),
                                        [&] { return impl.running_threads == 0; });
  lock.unlock();
  for (std::thread& thread : threads) {
    if (finished) {
      thread.join();
    } else {
      thread.detach();
    }
  }
  return finished;
}

}  // namespace vormel

#include "host/server.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <limits>
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
// Concrete executor types throughout: a type-erased executor costs heap allocations on every
// asynchronous operation.
using Executor = asio::io_context::executor_type;
using Socket = asio::basic_stream_socket<tcp, Executor>;
using Acceptor = asio::basic_socket_acceptor<tcp, Executor>;
using Timer = asio::basic_waitable_timer<std::chrono::steady_clock,
                                         asio::wait_traits<std::chrono::steady_clock>, Executor>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kHeaderLimit = std::size_t{8} * 1024;
constexpr std::size_t kBodyLimit = std::size_t{64} * 1024;
// After an error reply the host reads and drops what the client still sends, so the reply is
// not lost to a reset; this much and this long at most.
constexpr std::size_t kDrainLimit = std::size_t{1024} * 1024;
constexpr std::chrono::seconds kDrainTime{2};
// Deadlines are checked by a sweep rather than a timer per operation; a timeout fires up to
// this much late.
constexpr std::chrono::milliseconds kSweepPeriod{250};
constexpr Clock::rep kNoDeadline = std::numeric_limits<Clock::rep>::max();

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

void Fail(ErrorCode ec, const char* what) {
  std::fprintf(stderr, "vormel-host: %s: %s\n", what, ec.message().c_str());
}

class Session;

}  // namespace

// One io_context per thread: a connection lives on one thread from accept to close, so its
// handlers need no strand and the scheduler no cross-thread hand-offs. The acceptor, the
// signals and the deadline sweep have a thread of their own, which no request can hold up.
struct Worker {
  asio::io_context ioc{1};
  asio::executor_work_guard<Executor> work{ioc.get_executor()};
};

struct Server::Impl {
  explicit Impl(ServerConfig server_config)
      : config(std::move(server_config)),
        workers(MakeWorkers(config.threads)),
        acceptor(control.ioc.get_executor()),
        signals(control.ioc.get_executor(), SIGINT, SIGTERM),
        accept_retry(control.ioc.get_executor()),
        sweep(control.ioc.get_executor()) {}

  static std::vector<std::unique_ptr<Worker>> MakeWorkers(unsigned count) {
    std::vector<std::unique_ptr<Worker>> list;
    for (unsigned i = 0; i < std::max(1u, count); ++i) list.push_back(std::make_unique<Worker>());
    return list;
  }

  void Accept();
  void OnAccept(ErrorCode ec, Socket socket);
  void BeginStop();
  void Forget(Session* session);
  void Sweep();

  ServerConfig config;
  std::string url;
  std::atomic<bool> stopping{false};

  // Guards the fields below; the cv wakes Run.
  std::mutex mutex;
  std::condition_variable changed;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  unsigned running_threads = 0;
  bool stop_requested = false;

  std::vector<std::unique_ptr<Worker>> workers;
  // After the workers: a pending accept holds a socket of a worker, so control goes first.
  Worker control;
  std::size_t next_worker = 0;  // the accept handler's only
  Acceptor acceptor;
  asio::basic_signal_set<Executor> signals;
  Timer accept_retry;
  Timer sweep;
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Socket&& socket, Server::Impl& server) : socket_(std::move(socket)), server_(server) {
    ErrorCode ec;
    tcp::endpoint remote = socket_.remote_endpoint(ec);
    if (!ec) {
      remote_addr_ = remote.address().to_string();
      remote_port_ = remote.port();
    }
    tcp::endpoint local = socket_.local_endpoint(ec);
    if (!ec) {
      local_addr_ = local.address().to_string();
      local_port_ = local.port();
    }
    fields_.reserve(32);
  }

  ~Session() { server_.Forget(this); }

  void Start() {
    asio::dispatch(socket_.get_executor(),
                   beast::bind_front_handler(&Session::ReadNext, shared_from_this()));
  }

  // On a stop, an idle connection closes at once; a busy one after its response.
  void StopIfIdle() {
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
      if (self->idle_) self->Cancel();
    });
  }

  // From the sweep, on any thread: cuts the connection off on its own thread once its deadline
  // has passed.
  void CheckDeadline(Clock::rep now) {
    if (deadline_.load(std::memory_order_relaxed) > now) return;
    asio::post(socket_.get_executor(), [self = shared_from_this()] {
      if (self->deadline_.load(std::memory_order_relaxed) <=
          Clock::now().time_since_epoch().count()) {
        self->Cancel();
      }
    });
  }

 private:
  void ExpiresAfter(Clock::duration timeout) {
    deadline_.store((Clock::now() + timeout).time_since_epoch().count(), std::memory_order_relaxed);
  }
  void ExpiresNever() { deadline_.store(kNoDeadline, std::memory_order_relaxed); }

  // The pending operation ends with operation_aborted, which every handler takes as the end.
  void Cancel() {
    ErrorCode ec;
    socket_.cancel(ec);
  }

  void ReadNext() {
    if (server_.stopping) return Close();
    if (buffer_.size() > 0) return ReadHeader();  // a pipelined request is already here
    idle_ = true;
    ExpiresAfter(server_.config.idle_timeout);
    socket_.async_read_some(buffer_.prepare(4096),
                            beast::bind_front_handler(&Session::OnIdleRead, shared_from_this()));
  }

  void OnIdleRead(ErrorCode ec, std::size_t bytes) {
    idle_ = false;
    if (ec == asio::error::eof || ec == asio::error::operation_aborted ||
        ec == asio::error::connection_reset) {
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
    ExpiresAfter(server_.config.read_timeout);
    http::async_read_header(socket_, buffer_, *parser_,
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
               ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
               ec == http::error::partial_message) {
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
      ExpiresAfter(server_.config.read_timeout);
      return asio::async_write(
          socket_, asio::buffer(kContinue.data(), kContinue.size()),
          beast::bind_front_handler(&Session::OnContinueSent, shared_from_this()));
    }
    ReadBody();
  }

  void OnContinueSent(ErrorCode ec, std::size_t) {
    if (ec) return Close();
    ReadBody();
  }

  void ReadBody() {
    ExpiresAfter(server_.config.read_timeout);
    http::async_read(socket_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnBody, shared_from_this()));
  }

  void OnBody(ErrorCode ec, std::size_t) {
    if (HandleReadError(ec)) return;
    Respond();
  }

  // The client has closed or reset its end; checked only when the module writes.
  bool PeerGone() {
    pollfd entry{socket_.native_handle(), POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLRDHUP | POLLHUP | POLLERR));
  }

  void Respond() {
    ExpiresNever();
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
    ExpiresAfter(server_.config.read_timeout);
    asio::async_write(socket_, buffers,
                      beast::bind_front_handler(&Session::OnWritten, shared_from_this()));
  }

  void OnWritten(ErrorCode ec, std::size_t) {
    if (ec == asio::error::operation_aborted || ec == asio::error::broken_pipe ||
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
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return Close();
    drained_ = 0;
    ExpiresAfter(kDrainTime);
    Drain();
  }

  void Drain() {
    socket_.async_read_some(asio::buffer(drain_),
                            beast::bind_front_handler(&Session::OnDrained, shared_from_this()));
  }

  void OnDrained(ErrorCode ec, std::size_t bytes) {
    drained_ += bytes;
    if (ec || drained_ > kDrainLimit) return Close();
    Drain();
  }

  void Close() {
    ErrorCode ec;
    socket_.close(ec);
  }

  Socket socket_;
  std::atomic<Clock::rep> deadline_{kNoDeadline};
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
  // Connections go to the workers in turn.
  asio::io_context& target = workers[next_worker]->ioc;
  next_worker = (next_worker + 1) % workers.size();
  acceptor.async_accept(target,
                        [this](ErrorCode ec, Socket socket) { OnAccept(ec, std::move(socket)); });
}

void Server::Impl::Sweep() {
  sweep.expires_after(kSweepPeriod);
  sweep.async_wait([this](ErrorCode ec) {
    if (ec) return;
    // Collected first and dropped outside the lock: the last reference to a session may go
    // here, and its destructor takes the lock.
    std::vector<std::shared_ptr<Session>> live;
    {
      std::lock_guard lock(mutex);
      live.reserve(sessions.size());
      for (auto& [key, weak] : sessions) {
        if (auto session = weak.lock()) live.push_back(std::move(session));
      }
    }
    const Clock::rep now = Clock::now().time_since_epoch().count();
    for (auto& session : live) session->CheckDeadline(now);
    live.clear();
    Sweep();
  });
}

void Server::Impl::OnAccept(ErrorCode ec, Socket socket) {
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
  bool admitted = false;
  {
    std::lock_guard lock(mutex);
    admitted = sessions.size() < config.max_connections;
  }
  if (!admitted) {
    // Beyond the bound a connection is accepted and closed at once, so the backlog drains.
    ErrorCode close_ec;
    socket.close(close_ec);
    return Accept();
  }
  auto session = std::make_shared<Session>(std::move(socket), *this);
  {
    std::lock_guard lock(mutex);
    sessions.emplace(session.get(), session);
  }
  session->Start();
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
  Acceptor& acceptor = impl->acceptor;
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
  asio::post(impl.control.ioc, [&impl] {
    impl.Accept();
    impl.Sweep();
  });

  std::vector<std::thread> threads;
  std::vector<asio::io_context*> contexts{&impl.control.ioc};
  for (auto& worker : impl.workers) contexts.push_back(&worker->ioc);
  impl.running_threads = static_cast<unsigned>(contexts.size());
  threads.reserve(contexts.size());
  for (asio::io_context* context : contexts) {
    threads.emplace_back([&impl, &ioc = *context] {
      ioc.run();
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
  for (asio::io_context* context : contexts) context->stop();
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

// Hostile clients against a running vormel-host while a normal client keeps asking for an
// image: every normal request must be answered promptly, and at the end the counter holds
// exactly the images served, so no hostile request advanced it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "tests/reliability/reliability_support.h"

namespace vormel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kIdleConnections = 10000;

// Fresh-connection image requests every 20 ms; counts answers, failures and the slowest one.
class NormalClient {
 public:
  explicit NormalClient(int port) : thread_([this, port] { Run(port); }) {}
  ~NormalClient() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int answered() const { return answered_; }
  // True once the normal client has been answered again, within two seconds.
  bool AnsweredAgain() const {
    const int before = answered_;
    for (auto end = Clock::now() + 2s; Clock::now() < end; std::this_thread::sleep_for(5ms)) {
      if (answered_ > before) return true;
    }
    return false;
  }
  int failed() const { return failed_; }
  long long slowestMs() const { return slowestMs_; }

 private:
  void Run(int port) {
    while (!stop_) {
      const auto start = Clock::now();
      std::optional<Response> response = Get(port, ImageTarget("n"));
      const long long ms =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
      if (ms > slowestMs_) slowestMs_ = ms;
      if (response && response->status == 200 && response->Field("Content-Type") == "image/gif") {
        ++answered_;
      } else {
        ++failed_;
      }
      std::this_thread::sleep_for(20ms);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<int> answered_{0}, failed_{0};
  std::atomic<long long> slowestMs_{0};
  std::thread thread_;
};

// The host's answer to a hostile request: its status, 0 when it closed without one, -1 when it
// neither answered nor closed within the client's timeout.
int Outcome(Client& client) {
  const auto start = Clock::now();
  std::optional<Response> response = client.Read();
  if (response) return response->status;
  return Clock::now() - start < 4s ? 0 : -1;
}

struct BadRequest {
  const char* label;
  std::string bytes;
  std::vector<int> outcomes;  // statuses (0: closed) the host may give
};

std::vector<BadRequest> BadRequests() {
  const std::string image = "GET " + ImageTarget("n") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  return {
      {"no target", "GET\r\n\r\n", {400, 0}},
      {"not a request line", "GARBAGE\r\n\r\n", {400, 0}},
      {"binary", std::string("\x00\x01\x02\xff\r\n\r\n", 8), {400, 0}},
      {"unknown version", "GET " + ImageTarget("n") + " HTTP/9.9\r\n\r\n", {400, 505, 0}},
      {"extra words", "GET " + ImageTarget("n") + " HTTP/1.1 more\r\n\r\n", {400, 0}},
      {"request line of 100 KB",
       "GET /" + std::string(100000, 'a') + " HTTP/1.1\r\n\r\n",
       {400, 414, 431, 0}},
      {"header of 20 KB", image + "X-Big: " + std::string(20000, 'b') + "\r\n\r\n", {431}},
      {"10,000 small headers",
       [&] {
         std::string many = image;
         for (int i = 0; i < 10000; ++i) many += "X: y\r\n";
         return many + "\r\n";
       }(),
       {431}},
      {"announced body of 10 MB",
       "POST /cgi-bin/Vormel.dll?command HTTP/1.1\r\nHost: 127.0.0.1\r\n"
       "Content-Length: 10000000\r\n\r\nname=",
       {413}},
      {"sent body of 70 KB",
       "POST /cgi-bin/Vormel.dll?command HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
       "chunked\r\n\r\n11170\r\n" +
           std::string(70000, 'x') + "\r\n0\r\n\r\n",
       {413}},
      {"bad chunk size",
       "POST /cgi-bin/Vormel.dll?command HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: "
       "chunked\r\n\r\nzz\r\n",
       {400, 0}},
      {"negative length",
       "POST /cgi-bin/Vormel.dll?command HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -5\r\n\r\n",
       {400, 0}},
  };
}

class HostileClientsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Both ends of many connections need descriptors; the host inherits the raised limit.
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    home_.Write("[global]\r\npass=pw\r\ncommit=1\r\n[counter]\r\nn=0\r\n");
    host_ = std::make_unique<HostProcess>(std::vector<std::string>{
        "--home", home_.path(), "--read-timeout", "2", "--max-connections", "10100"});
    ASSERT_TRUE(host_->started()) << host_->Stderr();
    normal_ = std::make_unique<NormalClient>(host_->port());
  }

  // Stops the normal client and checks it was served throughout, then that the counter holds
  // exactly the images all clients were served.
  void Finish(int otherImages) {
    normal_->Stop();
    EXPECT_EQ(normal_->failed(), 0);
    EXPECT_GT(normal_->answered(), 0);
    EXPECT_LT(normal_->slowestMs(), 2000);
    std::printf("normal client: %d answers, slowest %lld ms\n", normal_->answered(),
                normal_->slowestMs());
    ASSERT_EQ(host_->Stop(SIGTERM), 0) << host_->Stderr();
    EXPECT_EQ(WholeFileCounters(ReadFile(home_.settings())),
              (std::map<std::string, long long>{{"n", normal_->answered() + otherImages}}));
  }

  HomeDir home_;
  std::unique_ptr<HostProcess> host_;
  std::unique_ptr<NormalClient> normal_;
};

TEST_F(HostileClientsTest, SlowHeadersAndSlowBodiesAreCutAtTheReadTimeout) {
  const std::string head = "GET " + ImageTarget("n") + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
  const std::string post =
      "POST /cgi-bin/Vormel.dll?list HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n";
  std::vector<std::unique_ptr<Client>> slow;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(std::make_unique<Client>(host_->port(), 300ms));
    ASSERT_TRUE(slow.back()->Send(i % 2 == 0 ? head : post));
  }
  // One byte per 100 ms each: never a whole request, always some progress.
  const auto start = Clock::now();
  std::vector<bool> closed(slow.size(), false);
  std::size_t open = slow.size();
  while (open > 0 && Clock::now() - start < 8s) {
    for (std::size_t i = 0; i < slow.size(); ++i) {
      if (!closed[i] && !slow[i]->Send("x")) {
        closed[i] = true;
        --open;
      }
    }
    EXPECT_TRUE(normal_->AnsweredAgain());
    std::this_thread::sleep_for(100ms);
  }
  const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_EQ(open, 0u) << "slow clients still connected after " << seconds << " s";
  EXPECT_GE(seconds, 1.5);  // not before the read timeout of 2 s
  Finish(0);
}

TEST_F(HostileClientsTest, BadRequestsAreRefusedOrClosed) {
  for (const BadRequest& bad : BadRequests()) {
    Client client(host_->port());
    client.Send(bad.bytes);  // the host may close before it has all of it
    const int outcome = Outcome(client);
    EXPECT_NE(std::find(bad.outcomes.begin(), bad.outcomes.end(), outcome), bad.outcomes.end())
        << bad.label << ": " << outcome;
    EXPECT_TRUE(normal_->AnsweredAgain()) << bad.label;
  }
  // Pipelined: a whole request, then garbage in the same segment. The first is answered.
  Client pipelined(host_->port());
  ASSERT_TRUE(pipelined.Send("GET " + ImageTarget("n") +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nGARBAGE \x01\x02 HTTP/1.1\r\n\r\n"
                             "GET " +
                             ImageTarget("n") + " HTTP/1.1\r\n\r\n"));
  std::optional<Response> first = pipelined.Read();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->status, 200);
  const int second = Outcome(pipelined);
  EXPECT_TRUE(second == 400 || second == 0) << second;
  EXPECT_TRUE(pipelined.ClosedByPeer());  // nothing after the garbage is served
  EXPECT_TRUE(normal_->AnsweredAgain());
  Finish(1);
}

TEST_F(HostileClientsTest, TenThousandIdleConnections) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  ASSERT_GE(limit.rlim_cur, static_cast<rlim_t>(kIdleConnections + 200))
      << "the limit on open files is below " << kIdleConnections;
  std::vector<std::unique_ptr<Client>> idle;
  idle.reserve(kIdleConnections);
  for (int i = 0; i < kIdleConnections; ++i) {
    idle.push_back(std::make_unique<Client>(host_->port()));
    ASSERT_TRUE(idle.back()->connected()) << "connection " << i;
    if (i % 1000 == 999) {
      EXPECT_TRUE(normal_->AnsweredAgain()) << i + 1 << " idle";
    }
  }
  // The first and the last of them are still served, beside all the others.
  int served = 0;
  for (Client* client : {idle.front().get(), idle.back().get()}) {
    std::optional<Response> response = SendGet(*client, ImageTarget("n"));
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->status, 200);
    served += response->status == 200;
  }
  std::printf("%d idle connections held open\n", kIdleConnections);
  Finish(served);
}

}  // namespace
}  // namespace vormel::testing

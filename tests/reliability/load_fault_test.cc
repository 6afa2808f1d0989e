// Load and faults against a running vormel-host on loopback: many clients advancing counters
// while the manager changes others, then a clean stop, repeated SIGKILLs, and a settings file
// that cannot be written for a while. Every phase is bounded in time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/reliability/reliability_support.h"

namespace vormel::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string Settings(int counters, const std::string& values = "") {
  std::string text = "[global]\r\npass=pw\r\ncommit=1\r\n[counter]\r\n" + values;
  for (int i = 0; i < counters; ++i) {
    if (values.find("c" + std::to_string(i) + "=") == std::string::npos) {
      text += "c" + std::to_string(i) + "=0\r\n";
    }
  }
  return text + "[desc]\r\n";
}

// Image clients on keep-alive connections, each cycling over the counters c0..c<n-1>. Every
// 200 GIF response is counted with the time it arrived; a request whose answer was lost counts
// as uncertain, so an exact comparison is only made when there is none.
class ImageLoad {
 public:
  ImageLoad(int port, int clients, int counters) : counters_(counters), times_(counters) {
    for (int c = 0; c < clients; ++c) {
      threads_.emplace_back([this, port, c] { Run(port, c); });
    }
  }
  ~ImageLoad() { Stop(); }

  void Stop() {
    stop_ = true;
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

  long long Served(int counter) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<long long>(times_[counter].size());
  }
  long long ServedSince(int counter, Clock::time_point since) const {
    std::lock_guard<std::mutex> guard(mutex_);
    long long n = 0;
    for (Clock::time_point t : times_[counter]) n += t >= since;
    return n;
  }
  long long Total() const {
    long long n = 0;
    for (int i = 0; i < counters_; ++i) n += Served(i);
    return n;
  }
  int uncertain() const { return uncertain_; }
  int refused() const { return refused_; }

 private:
  void Run(int port, int seed) {
    std::unique_ptr<Client> client;
    for (int i = seed; !stop_; ++i) {
      if (!client || !client->connected()) client = std::make_unique<Client>(port);
      const int counter = i % counters_;
      std::optional<Response> response =
          SendGet(*client, ImageTarget("c" + std::to_string(counter)));
      if (!response) {
        // Killed hosts and closed keep-alive connections both end here; only answers count.
        ++uncertain_;
        client.reset();
        if (!stop_) std::this_thread::sleep_for(5ms);
        continue;
      }
      if (response->status != 200 || response->Field("Content-Type") != "image/gif") {
        ++refused_;
        continue;
      }
      std::lock_guard<std::mutex> guard(mutex_);
      times_[counter].push_back(Clock::now());
    }
  }

  int counters_;
  mutable std::mutex mutex_;
  std::vector<std::vector<Clock::time_point>> times_;
  std::atomic<bool> stop_{false};
  std::atomic<int> uncertain_{0};
  std::atomic<int> refused_{0};
  std::vector<std::thread> threads_;
};

TEST(LoadTest, ChurnThenSigtermKeepsEveryServedHit) {
  constexpr int kCounters = 6;
  HomeDir home;
  home.Write(Settings(kCounters));
  long long served[kCounters];
  int managerFailures = 0, managerRounds = 0;
  {
    HostProcess host({"--home", home.path(), "--threads", "4"});
    ASSERT_TRUE(host.started()) << host.Stderr();
    ImageLoad load(host.port(), 64, kCounters);
    // The manager adds, resets and deletes counters no client requests, all the while.
    const auto end = Clock::now() + 20s;
    for (int i = 0; Clock::now() < end; ++i, ++managerRounds) {
      const std::string name = "m" + std::to_string(i % 5);
      managerFailures += ManagerCommand(host.port(), "add", name, "churn") != "Counter Added!";
      managerFailures += ManagerCommand(host.port(), "reset", name, "7") != "Counter Reset!";
      managerFailures += ManagerCommand(host.port(), "del", name, "") != "Counter Deleted!";
    }
    load.Stop();
    EXPECT_EQ(load.uncertain(), 0);
    EXPECT_EQ(load.refused(), 0);
    for (int i = 0; i < kCounters; ++i) served[i] = load.Served(i);
    EXPECT_EQ(host.Stop(SIGTERM), 0) << host.Stderr();
    std::printf("served %lld images in 20 s to 64 clients; %d manager rounds\n", load.Total(),
                managerRounds);
  }
  EXPECT_EQ(managerFailures, 0);
  auto file = WholeFileCounters(ReadFile(home.settings()));
  ASSERT_TRUE(file.has_value()) << ReadFile(home.settings());
  std::map<std::string, long long> expected;
  for (int i = 0; i < kCounters; ++i) {
    EXPECT_GT(served[i], 0);
    expected["c" + std::to_string(i)] = served[i];
  }
  EXPECT_EQ(*file, expected);  // every m* was deleted again

  HostProcess again({"--home", home.path()});
  ASSERT_TRUE(again.started()) << again.Stderr();
  EXPECT_EQ(ListedValues(again.port()), expected);
}

TEST(LoadTest, SigkillMidLoadLosesAtMostOneCommitInterval) {
  constexpr int kCounters = 4;
  constexpr int kClients = 16;
  // One commit interval plus room for the pass itself and scheduling on a loaded machine.
  constexpr auto kWindow = 1s + 300ms;
  HomeDir home;
  home.Write(Settings(kCounters));
  std::map<std::string, long long> base;
  for (int i = 0; i < kCounters; ++i) base["c" + std::to_string(i)] = 0;

  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    HostProcess host({"--home", home.path()});
    ASSERT_TRUE(host.started()) << host.Stderr();
    // Reads the file throughout: it must be whole every time, and values only grow.
    std::atomic<bool> stopSampling{false};
    std::atomic<int> tornReads{0};
    std::map<std::string, long long> seen = base;
    std::thread sampler([&] {
      while (!stopSampling) {
        auto values = WholeFileCounters(ReadFile(home.settings()));
        if (!values) {
          ++tornReads;
        } else {
          for (auto& [name, value] : *values) {
            if (value < seen[name]) ++tornReads;
            seen[name] = value;
          }
        }
        std::this_thread::sleep_for(10ms);
      }
    });
    ImageLoad load(host.port(), kClients, kCounters);
    // Kills land at different phases of the commit cycle.
    std::this_thread::sleep_for(2000ms + round * 370ms);
    stopSampling = true;
    sampler.join();
    const Clock::time_point killed = Clock::now();
    ASSERT_TRUE(host.Stop(SIGKILL).has_value());
    load.Stop();
    EXPECT_EQ(tornReads, 0);

    auto file = WholeFileCounters(ReadFile(home.settings()));
    ASSERT_TRUE(file.has_value()) << ReadFile(home.settings());
    long long lostTotal = 0;
    for (int i = 0; i < kCounters; ++i) {
      const std::string name = "c" + std::to_string(i);
      const long long value = (*file)[name];
      const long long served = base[name] + load.Served(i);
      EXPECT_GE(value, seen[name]) << name << " went back behind a committed value";
      // A hit is advanced before its answer is sent: at most one per client is not yet counted.
      EXPECT_LE(value, served + kClients) << name;
      EXPECT_LE(served - value, load.ServedSince(i, killed - kWindow))
          << name << " lost more than one commit interval of hits";
      lostTotal += served > value ? served - value : 0;
      base[name] = value;
    }
    std::printf("round %d: %lld images, %lld not yet committed at the kill\n", round, load.Total(),
                lostTotal);
  }
  // The restarted service continues from the file.
  HostProcess last({"--home", home.path()});
  ASSERT_TRUE(last.started()) << last.Stderr();
  EXPECT_EQ(ListedValues(last.port()), base);
}

// Makes a directory refuse new files for a while: a full tmpfs mounted on it when this process
// may mount, else the immutable attribute. Reports which, or that neither works.
class UnwritableDir {
 public:
  explicit UnwritableDir(const std::string& dir) : dir_(dir) {
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") == 0) {
      method_ = "full tmpfs";
      mounted_ = true;
    } else if (std::system(("chattr -i " + dir + " 2>/dev/null").c_str()) == 0) {
      method_ = "immutable directory";
    }
  }
  ~UnwritableDir() {
    Release();
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  const char* method() const { return method_; }

  void Block() {
    if (mounted_) {
      std::ofstream filler(dir_ + "/filler", std::ios::binary);
      const std::string block(4096, 'x');
      while (filler.write(block.data(), block.size())) {
      }
    } else {
      std::system(("chattr +i " + dir_).c_str());
    }
  }
  void Release() {
    if (mounted_) {
      std::error_code ignored;
      std::filesystem::remove(dir_ + "/filler", ignored);
    } else if (method_ != nullptr) {
      std::system(("chattr -i " + dir_ + " 2>/dev/null").c_str());
    }
  }

 private:
  std::string dir_;
  const char* method_ = nullptr;
  bool mounted_ = false;
};

TEST(FaultTest, UnwritableSettingsFileKeepsServingAndCatchesUp) {
  HomeDir home;
  UnwritableDir blocker(home.path());
  if (blocker.method() == nullptr) GTEST_SKIP() << "neither a tmpfs mount nor chattr works here";
  std::printf("settings file made unwritable by: %s\n", blocker.method());
  home.Write(Settings(1));
  HostProcess host({"--home", home.path()});
  ASSERT_TRUE(host.started()) << host.Stderr();
  blocker.Block();

  Client client(host.port());
  constexpr int kHits = 40;
  for (int i = 0; i < kHits; ++i) {
    std::optional<Response> response = SendGet(client, ImageTarget("c0"));
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->Field("Content-Type"), "image/gif");
  }
  EXPECT_EQ(ManagerCommand(host.port(), "add", "fresh", "d"),
            "Error  Could not write settings file");
  std::this_thread::sleep_for(2500ms);
  EXPECT_NE(host.Stderr().find("could not write 1 changed counter value(s)"), std::string::npos)
      << host.Stderr();
  EXPECT_EQ(WholeFileCounters(ReadFile(home.settings())),
            (std::map<std::string, long long>{{"c0", 0}}));

  blocker.Release();
  std::optional<std::map<std::string, long long>> file;
  for (auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(100ms)) {
    file = WholeFileCounters(ReadFile(home.settings()));
    if (file && (*file)["c0"] == kHits) break;
  }
  EXPECT_EQ(file, (std::map<std::string, long long>{{"c0", kHits}}));
  EXPECT_EQ(ManagerCommand(host.port(), "add", "fresh", "d"), "Counter Added!");
  EXPECT_EQ(host.Stop(SIGTERM), 0) << host.Stderr();
  EXPECT_EQ(WholeFileCounters(ReadFile(home.settings())),
            (std::map<std::string, long long>{{"c0", kHits}, {"fresh", 0}}));
}

}  // namespace
}  // namespace vormel::testing

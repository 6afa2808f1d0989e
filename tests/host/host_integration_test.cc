// vormel-host as a running program: started on a free port with a temporary home, driven by a
// raw-socket client (and by curl where it is installed).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "host_process.h"

namespace vormel::testing {
namespace {

using namespace std::chrono_literals;

std::string Request(const std::string& method, const std::string& target,
                    const std::string& extra = "", const std::string& body = "") {
  std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra;
  if (!body.empty() || method == "POST")
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return text + "\r\n" + body;
}

// A host on the fake module, with short timeouts so the timeout cases stay quick.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { Start({}); }

  void Start(std::vector<std::string> extra, std::vector<std::string> env = {}) {
    std::vector<std::string> args = {
        "--module", FAKE_MODULE_PATH, "--threads", "4", "--read-timeout",
        "1",        "--idle-timeout", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    host_.emplace(args, env);
    ASSERT_TRUE(host_->started()) << host_->Stderr();
    port_ = host_->port();
  }

  std::optional<HostProcess> host_;
  int port_ = 0;
};

TEST_F(HostTest, SignInPageAndNotFound) {
  for (const char* target : {"/", "/cgi-bin/"}) {
    auto page = Get(port_, target);
    ASSERT_TRUE(page) << target;
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->Field("Content-Type").find("text/html"), std::string::npos);
    EXPECT_NE(page->body.find("<form method=\"post\" action=\"/cgi-bin/Vormel.dll?list\">"),
              std::string::npos);
    EXPECT_NE(page->body.find("type=\"password\" name=\"pass\""), std::string::npos);
  }
  for (const char* target : {"/index.html", "/cgi-bin/Other.dll", "/cgi-bin/Vormel.dll/x"}) {
    auto missing = Get(port_, target);
    ASSERT_TRUE(missing) << target;
    EXPECT_EQ(missing->status, 404) << target;
  }
}

TEST_F(HostTest, ModuleFileNameIgnoresCase) {
  for (const char* name : {"Vormel.dll", "vormel.DLL", "VORMEL.dll"}) {
    auto reply = Get(port_, std::string("/cgi-bin/") + name + "?raw");
    ASSERT_TRUE(reply) << name;
    EXPECT_EQ(reply->status, 200);
    EXPECT_EQ(reply->body, "GIF89a raw bytes");
  }
}

TEST_F(HostTest, ModuleStatusFieldsAndBodyReachTheClient) {
  auto reply = Get(port_, "/cgi-bin/Vormel.dll?status=404+Not+Found&X-One:+1");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->head.substr(0, reply->head.find("\r\n")), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(reply->Field("X-One"), "+1");
  EXPECT_EQ(reply->Field("Content-Length"), "11");
  EXPECT_EQ(reply->Field("Server"), "Vormel/" VORMEL_HOST_VERSION_TEXT);
  EXPECT_FALSE(reply->Field("Date").empty());
  EXPECT_EQ(reply->body, "status body");
}

TEST_F(HostTest, HeadAnnouncesTheLengthWithoutTheBody) {
  Client client(port_);
  ASSERT_TRUE(client.Send(Request("HEAD", "/cgi-bin/Vormel.dll?raw") +
                          Request("GET", "/cgi-bin/Vormel.dll?raw")));
  auto head = client.Read(true);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->Field("Content-Length"), "16");
  auto get = client.Read();  // would misparse if the HEAD reply had carried a body
  ASSERT_TRUE(get);
  EXPECT_EQ(get->body, "GIF89a raw bytes");
}

TEST_F(HostTest, KeepAliveAndPipelining) {
  Client client(port_);
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(client.Send(Request("GET", "/cgi-bin/Vormel.dll?echo?n=" + std::to_string(i))));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << i;
    EXPECT_NE(reply->body.find("query=echo?n=" + std::to_string(i) + "\n"), std::string::npos);
    EXPECT_TRUE(reply->Field("Connection").empty());
  }
  std::string batch;
  for (int i = 0; i < 3; ++i)
    batch += Request("GET", "/cgi-bin/Vormel.dll?echo?p=" + std::to_string(i));
  ASSERT_TRUE(client.Send(batch));
  for (int i = 0; i < 3; ++i) {
    auto reply = client.Read();
    ASSERT_TRUE(reply) << i;
    EXPECT_NE(reply->body.find("query=echo?p=" + std::to_string(i) + "\n"), std::string::npos);
  }
}

TEST_F(HostTest, Http10) {
  {
    Client client(port_);
    ASSERT_TRUE(client.Send("GET /cgi-bin/Vormel.dll?raw HTTP/1.0\r\n\r\n"));
    auto reply = client.Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, "GIF89a raw bytes");
    EXPECT_EQ(reply->Field("Connection"), "close");
    EXPECT_TRUE(client.ClosedByPeer());
  }
  Client client(port_);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(
        client.Send("GET /cgi-bin/Vormel.dll?raw HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    auto reply = client.Read();
    ASSERT_TRUE(reply) << i;
    EXPECT_EQ(reply->Field("Connection"), "keep-alive");
  }
}

TEST_F(HostTest, PostBodyArrivingInPieces) {
  std::string body;
  for (int i = 0; i < 60000; ++i) body += static_cast<char>('a' + i % 26);
  Client client(port_);
  ASSERT_TRUE(
      client.Send("POST /cgi-bin/Vormel.dll?echo HTTP/1.1\r\nHost: x\r\n"
                  "Content-Type: text/plain\r\nContent-Length: 60000\r\n\r\n"));
  for (std::size_t at = 0; at < body.size(); at += 15000) {
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(client.Send(body.substr(at, 15000)));
  }
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->status, 200);
  EXPECT_NE(reply->body.find("method=POST\nquery=echo\npath=/cgi-bin/Vormel.dll\ntype=text/plain\n"
                             "total=60000\navailable=49152\n"),
            std::string::npos);
  EXPECT_EQ(reply->body.substr(reply->body.find("body=") + 5), body);
}

TEST_F(HostTest, ExpectContinue) {
  Client client(port_);
  ASSERT_TRUE(
      client.Send("POST /cgi-bin/Vormel.dll?echo HTTP/1.1\r\nHost: x\r\n"
                  "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n"));
  auto interim = client.Read();
  ASSERT_TRUE(interim);
  EXPECT_EQ(interim->status, 100);
  ASSERT_TRUE(client.Send("hello"));
  auto reply = client.Read();
  ASSERT_TRUE(reply);
  EXPECT_NE(reply->body.find("body=hello"), std::string::npos);
}

TEST_F(HostTest, HostileRequestsAreRefused) {
  struct Case {
    const char* name;
    std::string request;
    int status;
  } cases[] = {
      // Refused from the header alone: the body is never sent.
      {"body over 64 KiB",
       "POST /cgi-bin/Vormel.dll?echo HTTP/1.1\r\nHost: x\r\n"
       "Content-Length: 65537\r\n\r\n",
       413},
      {"oversized headers",
       "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n", 431},
      {"malformed request line", "GARBAGE\r\n\r\n", 400},
      {"bad version", "GET / HTTP/9.Z\r\n\r\n", 400},
      {"chunked body over 64 KiB",
       "POST /cgi-bin/Vormel.dll?echo HTTP/1.1\r\nHost: x\r\n"
       "Transfer-Encoding: chunked\r\n\r\n10001\r\n" +
           std::string(0x10001, 'z') + "\r\n0\r\n\r\n",
       413},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client client(port_);
    client.Send(c.request);
    auto reply = client.Read();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->Field("Connection"), "close");
    EXPECT_TRUE(client.ClosedByPeer());
  }
  auto after = Get(port_, "/cgi-bin/Vormel.dll?raw");  // and the service goes on
  ASSERT_TRUE(after);
  EXPECT_EQ(after->status, 200);
}

TEST_F(HostTest, SlowAndIdleClientsAreCutOff) {
  Client slow(port_, 4s);
  ASSERT_TRUE(slow.Send("GET /cgi-bin/Vormel.dll?raw HTTP/1.1\r\nHost: x\r\n"));
  auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(slow.ClosedByPeer());  // read timeout 1 s
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3500ms);

  Client idle(port_, 5s);
  ASSERT_TRUE(idle.Send(Request("GET", "/cgi-bin/Vormel.dll?raw")));
  ASSERT_TRUE(idle.Read());
  started = std::chrono::steady_clock::now();
  EXPECT_TRUE(idle.ClosedByPeer());  // idle timeout 2 s
  EXPECT_GE(std::chrono::steady_clock::now() - started, 1500ms);
}

TEST_F(HostTest, SixtyFourConcurrentClients) {
  std::atomic<int> good{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 64; ++i) {
    clients.emplace_back([&, i] {
      Client client(port_);
      for (int j = 0; j < 10; ++j) {
        std::string tag = std::to_string(i) + "-" + std::to_string(j);
        if (!client.Send(Request("GET", "/cgi-bin/Vormel.dll?echo?" + tag))) return;
        auto reply = client.Read();
        if (reply && reply->status == 200 &&
            reply->body.find("query=echo?" + tag + "\n") != std::string::npos) {
          ++good;
        }
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(good.load(), 640);
}

TEST_F(HostTest, ClientResetIsReportedToTheModule) {
  {
    Client client(port_);
    ASSERT_TRUE(client.Send(Request("GET", "/cgi-bin/Vormel.dll?probe=4000")));
    std::this_thread::sleep_for(100ms);
  }  // closed while the module is still writing
  std::string log;
  for (int i = 0; i < 100 && log.empty(); ++i) {
    std::this_thread::sleep_for(50ms);
    log = ReadFile(host_->home() + "/fake_module.log");
  }
  EXPECT_EQ(log, "write failed: ECONNRESET\n");
}

TEST_F(HostTest, ConnectionsBeyondTheBoundAreClosed) {
  Start({"--max-connections", "2"});
  Client first(port_), second(port_);
  ASSERT_TRUE(first.Send(Request("GET", "/cgi-bin/Vormel.dll?raw")));
  ASSERT_TRUE(first.Read());
  ASSERT_TRUE(second.Send(Request("GET", "/cgi-bin/Vormel.dll?raw")));
  ASSERT_TRUE(second.Read());
  Client third(port_);
  EXPECT_TRUE(third.ClosedByPeer());
  ASSERT_TRUE(first.Send(Request("GET", "/cgi-bin/Vormel.dll?raw")));
  EXPECT_TRUE(first.Read());
}

TEST_F(HostTest, AccessLogHidesThePassword) {
  char pattern[] = "/tmp/vormel-access-log-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string log_path = std::string(pattern) + "/access.log";
  Start({"--access-log", log_path});
  ASSERT_TRUE(Get(port_, "/cgi-bin/Vormel.dll?list?pass=TopSecret1"));
  ASSERT_TRUE(Get(port_, "/cgi-bin/Vormel.dll?List?TopSecret2"));
  Client post(port_);
  ASSERT_TRUE(post.Send(Request("POST", "/cgi-bin/Vormel.dll?list", "", "pass=TopSecret3")));
  ASSERT_TRUE(post.Read());
  ASSERT_TRUE(Get(port_, "/nothing-here"));
  ASSERT_EQ(host_->Stop(SIGTERM), 0);
  std::string log = ReadFile(log_path);
  EXPECT_EQ(log.find("TopSecret"), std::string::npos) << log;
  std::regex line(
      R"(127\.0\.0\.1 - - \[[^\]]+\] "GET /cgi-bin/Vormel\.dll\?list\?pass=\[redacted\] HTTP/1\.1" 501 \d+)");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  EXPECT_NE(log.find("\"GET /cgi-bin/Vormel.dll?List?[redacted] HTTP/1.1\" 501"),
            std::string::npos);
  EXPECT_NE(log.find("\"POST /cgi-bin/Vormel.dll?list HTTP/1.1\" 501"), std::string::npos);
  EXPECT_NE(log.find("\"GET /nothing-here HTTP/1.1\" 404"), std::string::npos);
  std::filesystem::remove_all(pattern);
}

TEST_F(HostTest, SigtermFinishesRequestsInFlightThenUnloads) {
  Client busy(port_);
  ASSERT_TRUE(busy.Send(Request("GET", "/cgi-bin/Vormel.dll?sleep=800")));
  Client idle(port_);
  ASSERT_TRUE(idle.Send(Request("GET", "/cgi-bin/Vormel.dll?raw")));
  ASSERT_TRUE(idle.Read());
  std::this_thread::sleep_for(200ms);
  std::optional<int> status;
  std::thread stopper([&] { status = host_->Stop(SIGTERM); });
  auto reply = busy.Read();
  stopper.join();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->body, "slept");
  EXPECT_EQ(reply->Field("Connection"), "close");
  EXPECT_TRUE(idle.ClosedByPeer());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(host_->home() + "/fake_module.log"), "terminated\nunloaded\n");
  EXPECT_NE(host_->Stderr().find("stopped"), std::string::npos);
}

TEST(HostStartTest, FirstRunPrintsThePasswordOnce) {
  HostProcess first({"--module", FAKE_MODULE_PATH});
  ASSERT_TRUE(first.started()) << first.Stderr();
  std::smatch match;
  std::string err = first.Stderr();
  ASSERT_TRUE(std::regex_search(err, match, std::regex("service password is ([A-Za-z0-9]{16})")))
      << err;
  std::string password = match[1];
  EXPECT_NE(err.find("sign in at http://127.0.0.1:" + std::to_string(first.port()) + "/cgi-bin/"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("\"Fake Module\""), std::string::npos);
  const std::string created = ReadFile(first.home() + "/vormel.ini");
  EXPECT_EQ(created.rfind("[global]\npass=" + password + "\n", 0), 0u) << created;
  ASSERT_EQ(first.Stop(SIGINT), 0);

  // A later start on the same home keeps the file and prints no password.
  HostProcess again({"--module", FAKE_MODULE_PATH, "--home", first.home()});
  ASSERT_TRUE(again.started()) << again.Stderr();
  EXPECT_EQ(again.Stderr().find("password"), std::string::npos) << again.Stderr();
  EXPECT_EQ(again.Stderr().find(password), std::string::npos);
  EXPECT_EQ(ReadFile(first.home() + "/vormel.ini"), created);
  EXPECT_EQ(again.Stop(SIGTERM), 0);
}

TEST(HostStartTest, RefusesAModuleThatDoesNotStart) {
  struct Case {
    const char* name;
    const char* module;
    std::vector<std::string> env;
    const char* message;
  } cases[] = {
      {"declines",
       FAKE_MODULE_PATH,
       {"FAKE_MODULE_REFUSE=1"},
       "GetExtensionVersion answered FALSE"},
      {"missing export",
       FAKE_MODULE_INCOMPLETE_PATH,
       {},
       "lacks the entry point TerminateExtension"},
      {"missing file", "/nonexistent/Vormel.so", {}, "cannot load module"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostProcess host({"--module", c.module}, c.env);
    EXPECT_FALSE(host.started());
    EXPECT_EQ(host.Wait(10s), 1);
    EXPECT_NE(host.Stderr().find(c.message), std::string::npos) << host.Stderr();
  }
}

TEST(HostStartTest, HelpAndBadOptions) {
  HostProcess help({"--help"});
  EXPECT_EQ(help.Wait(10s), 0);
  HostProcess bad({"--threads", "zero"});
  EXPECT_EQ(bad.Wait(10s), 2);
  EXPECT_NE(bad.Stderr().find("--threads"), std::string::npos);
}

TEST_F(HostTest, CurlKeepsOneConnectionForSeveralRequests) {
  if (std::system("command -v curl >/dev/null 2>&1") != 0) GTEST_SKIP() << "curl is not installed";
  std::string base = "http://127.0.0.1:" + std::to_string(port_) + "/cgi-bin/Vormel.dll?";
  std::string command = "curl -s --max-time 10 -w '[%{http_code} %{num_connects}]' '" + base +
                        "raw' '" + base + "echo?x' '" + base + "status=404+Not+Found' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char chunk[4096];
  while (std::size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(output.substr(0, 21), "GIF89a raw bytes[200 ");
  EXPECT_NE(output.find("query=echo?x\n"), std::string::npos);
  // One connection for all three: the second and third transfers open none.
  EXPECT_NE(output.find("[200 1]"), std::string::npos) << output;
  EXPECT_NE(output.find("status body[404 0]"), std::string::npos) << output;
}

// The real module, once it is built beside the host.
class RealModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("VORMEL_BUILD_BIN");
    module_ = std::string(bin ? bin : VORMEL_HOST_BIN_DIR) + "/Vormel.so";
    if (!std::filesystem::exists(module_)) GTEST_SKIP() << "not built yet: " << module_;
    host_.emplace(std::vector<std::string>{"--module", module_});
    ASSERT_TRUE(host_->started()) << host_->Stderr();
  }
  std::string module_;
  std::optional<HostProcess> host_;
};

TEST_F(RealModuleTest, ErrorPagesByteForByte) {
  struct Case {
    const char* query;
    int status;
    std::string body;
  } cases[] = {
      {"", 501,
       "<HEAD><TITLE>HTTP Error 501</TITLE></HEAD><BODY><H1>NOT IMPLEMENTED</H1>The server is "
       "unable to perform the method <b></b> at this time.</BODY>\r\n</body></html>"},
      {"List", 400,
       "<HEAD><TITLE>HTTP Error 400</TITLE></HEAD><BODY><H1>BAD REQUEST</H1><P>Your client sent "
       "a request that this server didn't understand.<br>Request: List\r\n</body></html>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    auto reply = Get(host_->port(), std::string("/cgi-bin/Vormel.dll?") + c.query);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, c.status);
    EXPECT_EQ(reply->Field("Content-Type"), "text/html");
    EXPECT_EQ(reply->body, c.body);
  }
  EXPECT_NE(host_->Stderr().find("\"Vormel Extension\""), std::string::npos);
  EXPECT_EQ(host_->Stop(SIGTERM), 0);
}

}  // namespace
}  // namespace vormel::testing

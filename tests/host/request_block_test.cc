// The mapping of one request onto the request block and of the module's calls back onto the
// reply, against the fake module.
#include "host/request_block.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "host/http_handler.h"
#include "host/module_loader.h"

namespace vormel {
namespace {

class RequestBlockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    module_ = Module::Load(FAKE_MODULE_PATH, error).release();
    ASSERT_NE(module_, nullptr) << error;
  }
  static void TearDownTestSuite() {
    std::unique_ptr<Module> owned(module_);
    module_ = nullptr;
  }

  ModuleRequest MakeRequest(std::string_view method, std::string_view query,
                            std::string_view body = {}) {
    ModuleRequest request;
    request.method = method;
    request.path = "/cgi-bin/Vormel.dll";
    request.query = query;
    request.body = body;
    request.headers = headers_;
    request.remote_addr = "127.0.0.1";
    request.remote_port = 40000;
    request.server_addr = "127.0.0.1";
    request.server_port = 8080;
    return request;
  }

  void Run(const ModuleRequest& request) {
    ASSERT_NE(module_, nullptr);
    call_.Run(module_->proc(), request, reply_);
  }

  static Module* module_;
  std::vector<HeaderField> headers_;
  ModuleCall call_;
  Reply reply_;
};

Module* RequestBlockTest::module_ = nullptr;

struct ReplyCase {
  const char* query;
  int status;
  const char* reason;
  const char* fields;
  const char* body;
};

TEST_F(RequestBlockTest, ReplyIsWhatTheModuleSent) {
  const ReplyCase cases[] = {
      {"status=404+Not+Found&X-One: 1|X-Two: 2", 404, "Not Found", "X-One: 1\r\nX-Two: 2\r\n",
       "status body"},
      // The host owns framing and connection fields; a blank before the colon is forgiven.
      {"status=200+OK&Content-Length: 5|Connection: close|Transfer-Encoding: chunked|X-Keep: y",
       200, "OK", "X-Keep: y\r\n", "status body"},
      {"status=200+OK&Content-type : image/gif", 200, "OK", "Content-type: image/gif\r\n",
       "status body"},
      // Lines that are not fields are dropped rather than sent on.
      {"status=200+OK&no colon here| folded: line|Bad Name: x|X-Ok: 1", 200, "OK", "X-Ok: 1\r\n",
       "status body"},
      {"status=200", 200, "", "", "status body"},
      {"status=99+Too+Low", 500, "", "", "status body"},
      {"status=abc", 500, "", "", "status body"},
      // The empty line may come inside the header text; what follows it is body.
      {"headers", 201, "Created", "X-First: a\r\n", "body in header text; then more"},
      // Bytes written without a header send form a plain 200 body.
      {"raw", 200, "", "", "GIF89a raw bytes"},
      // Nothing sent: the block's status code, or 500 for a failed call without one.
      {"nothing=204", 204, "", "", ""},
      {"nothing=0", 500, "", "", ""},
      {"nothing=999", 500, "", "", ""},
      {"unknown", 501, "Not Implemented", "Content-Type: text/plain\r\n", "no such behaviour"},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.query);
    Run(MakeRequest("GET", c.query));
    EXPECT_EQ(reply_.status, c.status);
    EXPECT_EQ(reply_.reason, c.reason);
    EXPECT_EQ(reply_.fields, c.fields);
    EXPECT_EQ(reply_.body, c.body);
  }
}

TEST_F(RequestBlockTest, BlockCarriesTheRequest) {
  headers_ = {{"Content-Type", "application/x-www-form-urlencoded"}};
  Run(MakeRequest("POST", "echo?a=%41&b", "pass=x+y"));
  EXPECT_EQ(reply_.body,
            "method=POST\nquery=echo?a=%41&b\npath=/cgi-bin/Vormel.dll\n"
            "type=application/x-www-form-urlencoded\ntotal=8\navailable=8\nreads=0\nbody=pass=x+y");
  EXPECT_EQ(call_.result(), HSE_STATUS_SUCCESS);
}

TEST_F(RequestBlockTest, BodyBeyondWhatIsGivenUpFrontComesThroughReadClient) {
  std::string body(60000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 26);
  Run(MakeRequest("POST", "echo", body));
  std::string expected_tail = "\ntotal=60000\navailable=49152\nreads=2\nbody=" + body;
  ASSERT_GE(reply_.body.size(), expected_tail.size());
  EXPECT_EQ(reply_.body.substr(reply_.body.size() - expected_tail.size()), expected_tail);
}

TEST_F(RequestBlockTest, QueryStringIsAWritableCopy) {
  Run(MakeRequest("GET", "cut"));
  EXPECT_EQ(reply_.body, "cut=c original=cut");
}

TEST_F(RequestBlockTest, ServerVariables) {
  headers_ = {{"Host", "example.test:8080"},
              {"User-Agent", "probe/1"},
              {"Content-Type", "text/plain"},
              {"X-Custom-Field", "42"}};
  Run(MakeRequest("POST", "vars", "12345"));
  EXPECT_EQ(reply_.body,
            "REMOTE_ADDR=127.0.0.1\n"
            "REMOTE_PORT=40000\n"
            "SERVER_NAME=example.test\n"
            "SERVER_PORT=8080\n"
            "HTTP_USER_AGENT=probe/1\n"
            "HTTP_REFERER=\n"
            "QUERY_STRING=vars\n"
            "REQUEST_METHOD=POST\n"
            "CONTENT_LENGTH=5\n"
            "CONTENT_TYPE=text/plain\n"
            "HTTP_X_CUSTOM_FIELD=42\n"
            "NO_SUCH_VARIABLE=<missing>\n"
            "small=0,5,ENOBUFS\n");
}

TEST_F(RequestBlockTest, ServerNameFallsBackToTheListeningAddress) {
  Run(MakeRequest("GET", "vars"));
  EXPECT_NE(reply_.body.find("SERVER_NAME=127.0.0.1\n"), std::string_view::npos) << reply_.body;
}

TEST_F(RequestBlockTest, WritesFailWithConnectionResetOnceTheClientIsGone) {
  int probes = 0;
  ModuleRequest request = MakeRequest("GET", "probe=5000");
  request.client_gone = [&] { return ++probes > 3; };
  Run(request);
  EXPECT_TRUE(call_.client_gone());
  EXPECT_EQ(call_.reported_status(), static_cast<DWORD>(ECONNRESET));
  EXPECT_EQ(call_.result(), HSE_STATUS_ERROR);
  EXPECT_EQ(probes, 4);
}

TEST_F(RequestBlockTest, AResponseWrittenAtOnceCostsNoProbe) {
  int probes = 0;
  ModuleRequest request = MakeRequest("GET", "raw");
  request.client_gone = [&] { return ++probes > 0; };
  Run(request);
  EXPECT_FALSE(call_.client_gone());
  EXPECT_EQ(call_.result(), HSE_STATUS_SUCCESS);
  EXPECT_EQ(probes, 0);
}

TEST_F(RequestBlockTest, BuffersAreReusedWithoutLeftovers) {
  Run(MakeRequest("GET", "big=100000"));
  EXPECT_EQ(reply_.body.size(), 100000u);
  Run(MakeRequest("GET", "raw"));
  EXPECT_EQ(reply_.body, "GIF89a raw bytes");
  EXPECT_EQ(reply_.fields, "");
}

TEST_F(RequestBlockTest, HandlerRoutesByPath) {
  HandlerConfig config{"/cgi-bin", module_->proc()};
  struct Case {
    const char* method;
    const char* path;
    int status;
    const char* body_part;
  } cases[] = {
      {"GET", "/cgi-bin/Vormel.dll", 200, "GIF89a"},
      {"GET", "/cgi-bin/vormel.DLL", 200, "GIF89a"},
      {"GET", "/", 200, "action=\"/cgi-bin/Vormel.dll?list\""},
      {"GET", "/cgi-bin/", 200, "name=\"pass\""},
      {"HEAD", "/", 200, "type=\"password\""},
      {"POST", "/", 405, "Method Not Allowed"},
      {"GET", "/cgi-bin/Vormel.dll/extra", 404, "Not Found"},
      {"GET", "/CGI-BIN/Vormel.dll", 404, "Not Found"},
      {"GET", "/cgi-binVormel.dll", 404, "Not Found"},
      {"GET", "/cgi-bin/Other.dll", 404, "Not Found"},
      {"GET", "/favicon.ico", 404, "Not Found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ModuleRequest request = MakeRequest(c.method, "raw");
    request.path = c.path;
    HandleRequest(config, request, call_, reply_);
    EXPECT_EQ(reply_.status, c.status);
    EXPECT_NE(reply_.body.find(c.body_part), std::string_view::npos) << reply_.body;
  }
}

TEST(RouteTest, RootMount) {
  EXPECT_EQ(RouteFor("/Vormel.dll", ""), Route::kModule);
  EXPECT_EQ(RouteFor("/", ""), Route::kSignIn);
  EXPECT_EQ(RouteFor("/x", ""), Route::kNotFound);
  EXPECT_NE(SignInPage("").find("action=\"/Vormel.dll?list\""), std::string::npos);
}

struct HeadCase {
  const char* name;
  int status;
  HeadOptions options;
  const char* expected_tail;  // what follows the Date and Server fields
};

TEST(ResponseHeadTest, HostAddsLengthAndConnection) {
  const HeadCase cases[] = {
      {"keep-alive 1.1", 200, {false, true, false}, "Content-Length: 4\r\n\r\n"},
      {"close", 200, {false, false, false}, "Content-Length: 4\r\nConnection: close\r\n\r\n"},
      {"keep-alive 1.0",
       200,
       {true, true, false},
       "Content-Length: 4\r\nConnection: keep-alive\r\n\r\n"},
      {"HEAD keeps the length", 200, {false, true, true}, "Content-Length: 4\r\n\r\n"},
      {"204 has no length", 204, {false, true, false}, "\r\n"},
      {"304 has no length", 304, {false, true, false}, "\r\n"},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.name);
    Reply reply;
    reply.status = c.status;
    reply.fields = "X-A: 1\r\n";
    reply.SetBody("body");
    std::string head;
    WriteResponseHead(reply, c.options, head);
    std::string status_line = "HTTP/1.1 " + std::to_string(c.status) + " " +
                              std::string(ReasonPhrase(c.status)) + "\r\nX-A: 1\r\nDate: ";
    EXPECT_EQ(head.substr(0, status_line.size()), status_line);
    std::string server = "Server: Vormel/" VORMEL_HOST_VERSION "\r\n";
    std::size_t after_server = head.find(server);
    ASSERT_NE(after_server, std::string::npos) << head;
    EXPECT_EQ(head.substr(after_server + server.size()), c.expected_tail);
  }
}

TEST(ResponseHeadTest, ModuleDateAndServerAreKept) {
  Reply reply;
  reply.reason = "Fine";
  reply.fields = "Date: yesterday\r\nServer: other\r\n";
  reply.has_date = true;
  reply.has_server = true;
  std::string head;
  WriteResponseHead(reply, HeadOptions{}, head);
  EXPECT_EQ(head,
            "HTTP/1.1 200 Fine\r\nDate: yesterday\r\nServer: other\r\nContent-Length: 0\r\n\r\n");
}

}  // namespace
}  // namespace vormel

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "extension/extension_server.h"
#include "tests/support/fake_request.h"

namespace vormel {
namespace {

using testing::FakeRequest;

// A server with a command table of its own, recording what each handler received.
class RecordingServer : public ExtensionServer {
 public:
  RecordingServer() : ExtensionServer('&') {}

  void Counter(RequestContext&, const char* p) { Record("Counter", {p}); }
  void List(RequestContext&, const char* pass) { Record("List", {pass}); }
  void Command(RequestContext&, const char* type, const char* name, const char* desc,
               const char* pass) {
    Record("Command", {type, name, desc, pass});
  }
  void Nothing(RequestContext&, const char*) {}
  void Text(RequestContext& context, const char*) { context << "page text"; }
  void Headed(RequestContext& context, const char*) {
    AddResponseHeader(context, "X-One: 1\r\n");
    StartHtmlContent(context);
    WriteHtmlTitle(context);
    context << "hello";
    EndHtmlContent(context);
  }
  void Raw(RequestContext& context, const char*) {
    context.sendHeaders = false;
    context << "never sent";
  }
  void Throw(RequestContext& context, const char*) {
    context << "partial";
    throw std::runtime_error("handler failed");
  }

  const CommandTable* GetCommandTable() const override { return &table_; }

  std::string called;
  std::vector<std::string> values;

 private:
  void Record(const char* name, std::vector<std::string> got) {
    called = name;
    values = std::move(got);
  }

  static CommandEntry entries_[];
  static const CommandTable table_;
};

VORMEL_CHECK_COMMAND(RecordingServer, Command, "type name desc pass");
CommandEntry RecordingServer::entries_[] = {
    VORMEL_COMMAND(RecordingServer, Counter, "p"),
    VORMEL_COMMAND(RecordingServer, List, "pass"),
    VORMEL_COMMAND(RecordingServer, Command, "type name desc pass"),
    VORMEL_COMMAND(RecordingServer, Nothing, "x"),
    VORMEL_COMMAND(RecordingServer, Text, "x"),
    VORMEL_COMMAND(RecordingServer, Headed, "x"),
    VORMEL_COMMAND(RecordingServer, Raw, "x"),
    VORMEL_COMMAND(RecordingServer, Throw, "x"),
};
const CommandTable RecordingServer::table_{entries_, nullptr};

const std::string kBadRequestHead =
    "<HEAD><TITLE>HTTP Error 400</TITLE></HEAD><BODY><H1>BAD REQUEST</H1><P>Your client sent a "
    "request that this server didn't understand.<br>Request: ";
const std::string kNotImplementedHead =
    "<HEAD><TITLE>HTTP Error 501</TITLE></HEAD><BODY><H1>NOT IMPLEMENTED</H1>The server is "
    "unable to perform the method <b>";
const std::string kNotImplementedTail = "</b> at this time.</BODY>\r\n</body></html>";

std::string BadRequestPage(const std::string& shown) {
  return kBadRequestHead + shown + "\r\n</body></html>";
}
std::string NotImplementedPage(const std::string& shown) {
  return kNotImplementedHead + shown + kNotImplementedTail;
}

class FrameTest : public ::testing::Test {
 protected:
  DWORD Run(FakeRequest& request) { return server_.HttpExtensionProc(request.block()); }
  RecordingServer server_;
};

struct SelectionCase {
  const char* query;
  const char* command;  // empty: no handler runs
  std::vector<std::string> values;
  DWORD status;
  const char* page;  // for errors: the text shown in the page
};

class SelectionTest : public FrameTest, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(SelectionTest, SelectsBindsAndAnswers) {
  const SelectionCase& c = GetParam();
  FakeRequest request("GET", c.query);
  DWORD result = Run(request);
  EXPECT_EQ(server_.called, c.command);
  EXPECT_EQ(request.block()->dwHttpStatusCode, c.status);
  if (c.status == 200) {
    EXPECT_EQ(result, HSE_STATUS_SUCCESS);
    EXPECT_EQ(server_.values, c.values);
    return;
  }
  EXPECT_EQ(result, HSE_STATUS_ERROR);
  ASSERT_EQ(request.headerSends.size(), 1u);
  EXPECT_EQ(request.headerSends[0].header, "Content-Type: text/html\r\n");
  ASSERT_EQ(request.writes.size(), 2u);
  EXPECT_EQ(request.writes[0], "\r\n");
  EXPECT_EQ(request.writes[1],
            c.status == 400 ? BadRequestPage(c.page) : NotImplementedPage(c.page));
}

const std::string kPw = "se cret";

INSTANTIATE_TEST_SUITE_P(
    Queries, SelectionTest,
    ::testing::Values(
        SelectionCase{"counter?p=df=sample,dd=a", "Counter", {"df=sample,dd=a"}, 200, ""},
        SelectionCase{"MfcISAPICommand=Counter&p=lit=5", "Counter", {"lit=5"}, 200, ""},
        SelectionCase{"mfcisapicommand=counter&p=lit=5", "Counter", {"lit=5"}, 200, ""},
        SelectionCase{"counter?P=lit=5", "Counter", {"lit=5"}, 200, ""},
        SelectionCase{"COUNTER&p=lit=5", "Counter", {"lit=5"}, 200, ""},
        SelectionCase{"Counter?12", "Counter", {"12"}, 200, ""},
        SelectionCase{"counter?p=lit=5&", "Counter", {"lit=5"}, 200, ""},
        SelectionCase{"counter?p=a+b%20c%2b", "Counter", {"a b c+"}, 200, ""},
        SelectionCase{"counter?p=", "Counter", {""}, 200, ""},
        SelectionCase{"List?pass=", "List", {""}, 200, ""},
        SelectionCase{"Command?add&a&&b&se+cret", "Command", {"add", "a", "b", kPw}, 200, ""},
        SelectionCase{"Command?pass=se+cret&type=add&name=a&desc=b",
                      "Command",
                      {"add", "a", "b", kPw},
                      200,
                      ""},
        SelectionCase{"List   \r\n", "", {}, 400, "List"},
        SelectionCase{"List", "", {}, 400, "List"}, SelectionCase{"List?", "", {}, 400, "List"},
        SelectionCase{"Command?name=x", "", {}, 400, "Command"},
        SelectionCase{"counter?p=lit=5&&", "", {}, 400, "counter"},
        SelectionCase{"counter?p=lit=5&p=lit=6", "", {}, 400, "counter"},
        SelectionCase{"Command?pass=x&add&a&b", "", {}, 400, "Command"},
        SelectionCase{"Command?type=add&nom=a&desc=b&pass=x", "", {}, 400, "Command"},
        SelectionCase{"Command?type=add&name=a&desc=b", "", {}, 400, "Command"},
        SelectionCase{"counter?x=1", "", {}, 400, "counter"},
        SelectionCase{"p=lit=5", "", {}, 501, "p=lit=5"},
        SelectionCase{"Report?x=1", "", {}, 501, "Report?x=1"}, SelectionCase{"", "", {}, 501, ""},
        SelectionCase{"MfcISAPICommand=Report", "", {}, 501, "MfcISAPICommand=Report"},
        // Request text reaches the page escaped.
        SelectionCase{"<script>alert('x')</script>",
                      "",
                      {},
                      501,
                      "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"},
        SelectionCase{"List?\"&<b>", "", {}, 400, "List"}));

TEST(DecodeValueTest, Table) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a+b%20c%2b", "a b c+"}, {"%4G", "?"}, {"%G4", "?4"},
      {"100%", "100?"},         {"%4", "?"},  {"%41%62", "Ab"},
      {"%zz9", "?z9"},          {"", ""},     {"x=y=z", "x=y=z"},
      {"%81%40", "\x81\x40"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    EXPECT_STREQ(DecodeValue(text.data()), c.out) << c.in;
  }
}

TEST(FormatStatusLineTest, Table) {
  struct Case {
    DWORD code;
    const char* line;
  } cases[] = {{200, "200 OK"},
               {204, "204 No Content"},
               {0, "200 OK"},
               {302, "302 Moved Temporarily"},
               {404, "404 Not Found"},
               {999, "200 OK"},
               {501, "501 Not Implemented"},
               {503, "503 Service Unavailable"}};
  for (const Case& c : cases) {
    char line[64];
    FormatStatusLine(c.code, line, sizeof line);
    EXPECT_STREQ(line, c.line);
  }
}

TEST(HtmlStreamTest, GrowsInStepsAndDetaches) {
  struct Case {
    std::uint32_t writes;
    std::uint32_t capacityBefore;
    std::uint32_t capacityAfterDetach;
  } cases[] = {{1, 4096, 4096},
               {4095, 4096, 4096},
               {4096, 4096, 8192},
               {4097, 8192, 8192},
               {12288, 12288, 16384}};
  for (const Case& c : cases) {
    HtmlStream stream(4096);
    std::string bytes(c.writes, 'x');
    stream.Write(bytes.data(), c.writes);
    EXPECT_EQ(stream.capacity(), c.capacityBefore) << c.writes;
    EXPECT_EQ(stream.length(), c.writes);
    stream.Write("", 0);
    EXPECT_EQ(stream.length(), c.writes);
    stream.Detach();
  }
  HtmlStream stream(4096);
  EXPECT_EQ(stream.Detach(), nullptr);
  stream << "abc";
  stream.Reset();
  EXPECT_EQ(stream.length(), 0u);
  EXPECT_EQ(stream.capacity(), 4096u);
  stream << "xy";
  DetachedBuffer out = stream.Detach();
  EXPECT_STREQ(out.get(), "xy");
  EXPECT_EQ(stream.capacity(), 0u);
  EXPECT_EQ(stream.data(), nullptr);
}

TEST(HtmlStreamTest, ExactPageGrowsWhenDetached) {
  HtmlStream stream(4096);
  std::string bytes(4096, 'y');
  stream.Write(bytes.data(), 4096);
  EXPECT_EQ(stream.capacity(), 4096u);
  DetachedBuffer out = stream.Detach();
  EXPECT_EQ(out.get()[4096], '\0');
}

TEST_F(FrameTest, TrimsRequestTextButKeepsFirstCharacter) {
  struct Case {
    const char* query;
    const char* remaining;
  } cases[] = {{"   ", " "}, {"counter?p=x \r\n \n", "counter"}, {"\r\n", "\r"}};
  for (const Case& c : cases) {
    FakeRequest request("GET", c.query);
    Run(request);
    EXPECT_STREQ(request.block()->lpszQueryString, c.remaining) << c.query;
  }
  FakeRequest request("GET", "counter?p=x  \r\n");
  Run(request);
  EXPECT_EQ(server_.values, std::vector<std::string>{"x"});
}

TEST_F(FrameTest, PostBodyArrivesInPiecesAndIsDispatchedOnce) {
  std::string body = "name=a&desc=b&pass=" + std::string(300, 'p') + "&type=add\r\n";
  FakeRequest request("POST", "command", body, 10, 13);
  EXPECT_EQ(Run(request), HSE_STATUS_SUCCESS);
  EXPECT_EQ(server_.called, "Command");
  EXPECT_EQ(server_.values, (std::vector<std::string>{"add", "a", "b", std::string(300, 'p')}));
  EXPECT_GT(request.readCalls, 10);
}

TEST_F(FrameTest, PostBodyKeywordFormWinsOverQueryString) {
  FakeRequest request("post", "command", "MfcISAPICommand=Counter&p=lit=5");
  Run(request);
  EXPECT_EQ(server_.called, "Counter");
  EXPECT_EQ(server_.values, std::vector<std::string>{"lit=5"});
}

TEST_F(FrameTest, EmptyPostBodyIsMissingParameters) {
  FakeRequest request("POST", "list", "");
  EXPECT_EQ(Run(request), HSE_STATUS_ERROR);
  EXPECT_EQ(request.block()->dwHttpStatusCode, 400u);
  EXPECT_EQ(request.writes.at(1), BadRequestPage("list"));
}

TEST_F(FrameTest, BadRequestPageFallsBackToPathInfo) {
  FakeRequest request("POST", "", "name=a");
  Run(request);
  // No command text and no command in the body: nothing selected.
  EXPECT_EQ(request.block()->dwHttpStatusCode, 501u);
  FakeRequest unreadable("POST", "", "abcdef", 0);
  unreadable.failRead = true;
  EXPECT_EQ(Run(unreadable), HSE_STATUS_ERROR);
  EXPECT_EQ(unreadable.block()->dwHttpStatusCode, 400u);
  EXPECT_EQ(StatusOf(unreadable), "400 Bad Request");
  EXPECT_EQ(unreadable.writes.at(1), BadRequestPage("/Vormel.dll"));
  EXPECT_EQ(server_.called, "");
}

TEST_F(FrameTest, OversizedBodyIsRefusedUnread) {
  FakeRequest request("POST", "command", std::string(kMaxRequestBody + 1, 'a'), 0);
  EXPECT_EQ(Run(request), HSE_STATUS_ERROR);
  EXPECT_EQ(request.readCalls, 0);
  EXPECT_EQ(StatusOf(request), "413 Request Entity Too Large");
  EXPECT_NE(request.writes.at(1).find("REQUEST ENTITY TOO LARGE"), std::string::npos);
  EXPECT_EQ(server_.called, "");
}

TEST_F(FrameTest, UnannouncedBodyIsReadUntilEndWithinBound) {
  FakeRequest small("POST", "list", "pass=abc", 0, 3);
  small.block()->cbTotalBytes = kUnknownBodyLength;
  EXPECT_EQ(Run(small), HSE_STATUS_SUCCESS);
  EXPECT_EQ(server_.values, std::vector<std::string>{"abc"});

  server_.called.clear();
  FakeRequest big("POST", "list", "pass=" + std::string(kMaxRequestBody, 'a'), 0, 4096);
  big.block()->cbTotalBytes = kUnknownBodyLength;
  EXPECT_EQ(Run(big), HSE_STATUS_ERROR);
  EXPECT_EQ(StatusOf(big), "413 Request Entity Too Large");
  EXPECT_EQ(server_.called, "");
}

TEST_F(FrameTest, ForeignMethodsGetNotImplementedNamingTheMethod) {
  for (const char* method : {"HEAD", "PUT", "DELETE", "<x>"}) {
    FakeRequest request(method, "counter?p=lit=5");
    EXPECT_EQ(Run(request), HSE_STATUS_ERROR);
    EXPECT_EQ(request.block()->dwHttpStatusCode, 501u);
    EXPECT_EQ(StatusOf(request), "501 Not Implemented");
    std::string shown = std::string(method) == "<x>" ? "&lt;x&gt;" : method;
    EXPECT_EQ(request.writes.at(1), NotImplementedPage(shown));
  }
  EXPECT_EQ(server_.called, "");
}

struct SendCase {
  const char* query;
  const char* status;
  bool hadHeader;
  const char* header;
  std::vector<std::string> writes;
  DWORD result;
};

class SendTest : public FrameTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendTest, SendsWhatTheHandlerLeft) {
  const SendCase& c = GetParam();
  FakeRequest request("GET", c.query);
  EXPECT_EQ(Run(request), c.result);
  if (c.status == nullptr) {
    EXPECT_TRUE(request.headerSends.empty());
  } else {
    ASSERT_EQ(request.headerSends.size(), 1u);
    EXPECT_EQ(request.headerSends[0].statusLine, c.status);
    EXPECT_EQ(request.headerSends[0].hadHeader, c.hadHeader);
    EXPECT_EQ(request.headerSends[0].header, c.header);
  }
  EXPECT_EQ(request.writes, c.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, SendTest,
    ::testing::Values(
        SendCase{"Nothing?1", "200 OK", false, "", {}, HSE_STATUS_SUCCESS},
        SendCase{"Text?1", "200 OK", true, "", {"\r\n", "page text"}, HSE_STATUS_SUCCESS},
        SendCase{"Headed?1",
                 "200 OK",
                 true,
                 "X-One: 1\r\nContent-Type: text/html\r\n",
                 {"\r\n",
                  "<html><head><title>Default MFC Web Server Extension</title></head><body>"
                  "hello</body></html>"},
                 HSE_STATUS_SUCCESS},
        SendCase{"Raw?1", nullptr, false, "", {}, HSE_STATUS_SUCCESS},
        SendCase{"Throw?1",
                 "500 Internal Server Error",
                 true,
                 "Content-Type: text/html\r\n",
                 {"\r\n",
                  "<HEAD><TITLE>HTTP Error 500</TITLE></HEAD><BODY><H1>SERVER ERROR</H1>The "
                  "server encountered an internal error or misconfiguration and was unable to "
                  "complete your request.</BODY>\r\n</body></html>"},
                 HSE_STATUS_ERROR}));

TEST_F(FrameTest, HeaderSendFailures) {
  struct Case {
    DWORD error;
    std::size_t writes;
    DWORD status;
    DWORD result;
  } cases[] = {{WSAECONNRESET, 2, 200, HSE_STATUS_SUCCESS}, {5, 0, 500, HSE_STATUS_ERROR}};
  for (const Case& c : cases) {
    FakeRequest request("GET", "Text?1");
    request.failHeaderSend = true;
    request.headerSendError = c.error;
    EXPECT_EQ(Run(request), c.result) << c.error;
    EXPECT_EQ(request.writes.size(), c.writes) << c.error;
    EXPECT_EQ(request.block()->dwHttpStatusCode, c.status) << c.error;
  }
}

TEST_F(FrameTest, WriteFailuresEndSending) {
  for (int failing : {0, 1}) {
    FakeRequest request("GET", "Text?1");
    request.failWriteNumber = failing;
    EXPECT_EQ(Run(request), HSE_STATUS_ERROR);
    EXPECT_EQ(request.writes.size(), static_cast<std::size_t>(failing + 1));
    EXPECT_EQ(request.block()->dwHttpStatusCode, 500u);
  }
}

class NoStreamServer : public RecordingServer {
 public:
  std::unique_ptr<HtmlStream> CreateStream() override { return nullptr; }
};

TEST(NoStreamTest, AnswersNoContentWithStatusLineAlone) {
  NoStreamServer server;
  FakeRequest request("GET", "counter?p=1");
  EXPECT_EQ(server.HttpExtensionProc(request.block()), HSE_STATUS_ERROR);
  EXPECT_EQ(request.block()->dwHttpStatusCode, 204u);
  ASSERT_EQ(request.headerSends.size(), 1u);
  EXPECT_EQ(request.headerSends[0].statusLine, "204 No Content");
  EXPECT_FALSE(request.headerSends[0].hadHeader);
  EXPECT_TRUE(request.writes.empty());
  EXPECT_EQ(server.called, "");
}

TEST(ParamInfoTest, BuildsFromDeclaration) {
  ParamInfo info;
  ASSERT_TRUE(BuildParamInfo("  type name  desc pass ", info));
  ASSERT_EQ(info.count, 4u);
  EXPECT_EQ(info.names[0], "type");
  EXPECT_EQ(info.names[3], "pass");
  EXPECT_EQ(info.required, 4u);
  EXPECT_FALSE(BuildParamInfo("a b c d e f g h i", info));
  static_assert(CountDeclaredNames(" type name desc pass") == 4);
}

}  // namespace
}  // namespace vormel

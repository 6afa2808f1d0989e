// Bad input through the whole request flow (selection, binding, decoding, handlers): each
// request of the table gets its message, error page or error image, and neither the table nor
// the settings file changes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "store/counter_extension.h"
#include "store/value_slot.h"
#include "tests/renderer/gif_decode.h"
#include "tests/support/fake_request.h"
#include "tests/support/temp_home.h"

namespace vormel::testing {
namespace {

const std::string kSettings =
    "[global]\r\npass=pw\r\ncommit=3600\r\n"
    "[counter]\r\nhome=5\r\n\x83\x65\x83\x58=9\r\n"
    "[desc]\r\nhome=Home,2024/01/01\r\n";

struct Answer {
  std::string status;
  std::string contentType;
  std::string body;
};

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_.WriteSettings(kSettings);
    server_ = std::make_unique<CounterExtension>();
  }

  Answer Send(const std::string& method, const std::string& query, const std::string& body = "") {
    FakeRequest request(method, query, body, body.size() / 2);
    server_->HttpExtensionProc(request.block());
    Answer answer;
    if (request.headerSends.empty()) return answer;
    answer.status = request.headerSends.front().statusLine;
    const std::string& header = request.headerSends.front().header;
    answer.contentType = header.find("image/gif") != std::string::npos ? "gif" : "html";
    const std::string written = request.Written();
    answer.body = written.size() >= 2 ? written.substr(2) : "";
    return answer;
  }

  std::string Table() const {
    std::string out;
    const char* cursor = server_->table.names;
    for (int i = 0; i < server_->table.count; ++i) {
      out += std::string(cursor) + "=" + std::to_string(LoadValue(server_->table.values[i])) + ";";
      cursor += server_->table.nameLengths[i];
    }
    return out;
  }

  TempHome home_;
  std::unique_ptr<CounterExtension> server_;
};

std::string MessageOf(const std::string& page) {
  if (page.find("Vormel Authorization Failed") != std::string::npos) return "<auth>";
  static const std::string kOpen = "<B><FONT COLOR=red>";
  const std::size_t begin = page.find(kOpen);
  if (begin == std::string::npos) return "";
  return page.substr(begin + kOpen.size(), page.find("</FONT>", begin) - begin - kOpen.size());
}

std::string Percent(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", c);
    out += escaped;
  }
  return out;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

struct CommandCase {
  std::string label;
  std::string body;    // POST body of Vormel.dll?command
  std::string expect;  // the page's message, "<auth>", or a status line for an error page
};

std::vector<CommandCase> CommandCases() {
  const std::string tail = "&pass=pw";
  std::vector<CommandCase> cases = {
      {"wrong password", "type=add&name=x&desc=y&pass=pW", "<auth>"},
      {"password of 10,000 bytes", "type=add&name=x&desc=y&pass=" + std::string(10000, 'p'),
       "<auth>"},
      {"cut escape in the password", "type=add&name=x&desc=y&pass=pw%7", "<auth>"},
      {"type of 10,000 bytes", "type=" + std::string(10000, 'a') + "&name=x&desc=y" + tail,
       "Error  invalid command type"},
      {"name of 5,000 bytes, cut to 64, not found",
       "type=del&name=" + std::string(5000, 'n') + "&desc=" + tail,
       "Error  Counter Name not found!"},
      {"description of 60,000 bytes for a missing name",
       "type=reset&name=none&desc=" + std::string(60000, '1') + tail,
       "Error  Counter Name not found!"},
      {"invalid escape in a name", "type=add&name=a%zzb&desc=y" + tail,
       "Error  Invalid Counter Name"},
      {"half escape ending a name", "type=add&name=ab%4&desc=y" + tail,
       "Error  Invalid Counter Name"},
      {"lone percent", "type=add&name=%25&desc=y" + tail, "Error  Invalid Counter Name"},
      {"escaped NUL empties the name", "type=add&name=%00abc&desc=y" + tail,
       "Error  Input Counter Name or Description"},
      {"name of 0x81 0x40 runs", "type=add&name=" + Repeat("%81%40", 50) + "&desc=y" + tail,
       "Error  Input Counter Name or Description"},
      {"description of 0x81 0x40 runs and blanks",
       "type=add&name=x&desc=" + Repeat("%81%40+", 40) + tail,
       "Error  Input Counter Name or Description"},
      {"line break injecting a key", "type=add&name=x&desc=a%0D%0Aevil%3D1" + tail,
       "Error  Invalid Description"},
      {"reset value with a line break", "type=reset&name=home&desc=1%0A%5Bglobal%5D" + tail,
       "Error  Invalid Description"},
      {"existing name", "type=add&name=home&desc=again" + tail, "Error  Counter Name Exist!"},
      {"body over 64 KB", "type=add&name=x&desc=" + std::string(70000, 'd') + tail,
       "413 Request Entity Too Large"},
      {"parameter twice", "type=add&name=x&name=y&desc=d" + tail, "400 Bad Request"},
      {"unknown parameter", "type=add&name=x&desc=d&evil=1" + tail, "400 Bad Request"},
      {"missing parameter", "type=add&name=x" + tail, "400 Bad Request"},
      {"positional after named", "type=add&x&desc=d" + tail, "400 Bad Request"},
  };
  // Every refused name byte, escaped as a form would send it, for each change type.
  for (char c : std::string("=[];,&%+?#\"'<>\x01\t\n\r\x1f\x7f", 20)) {
    for (const char* type : {"add", "reset", "del"}) {
      cases.push_back(
          {"refused byte " + std::to_string(static_cast<int>(c)) + " in " + type,
           std::string("type=") + type + "&name=a" + Percent(std::string(1, c)) + "b&desc=1" + tail,
           "Error  Invalid Counter Name"});
    }
  }
  return cases;
}

TEST_F(BadInputTest, CommandsAnswerAndChangeNothing) {
  const std::string file = home_.ReadSettings();
  const std::string table = Table();
  for (const CommandCase& c : CommandCases()) {
    SCOPED_TRACE(c.label);
    const Answer answer = Send("POST", "command", c.body);
    if (c.expect[0] >= '0' && c.expect[0] <= '9') {
      EXPECT_EQ(answer.status, c.expect);
      EXPECT_EQ(answer.contentType, "html");
    } else {
      EXPECT_EQ(answer.status, "200 OK");
      EXPECT_EQ(MessageOf(answer.body), c.expect);
    }
    EXPECT_EQ(home_.ReadSettings(), file);
    EXPECT_EQ(Table(), table);
  }
}

TEST_F(BadInputTest, FullTableRefusesAddThroughTheForm) {
  {
    std::unique_lock<std::shared_mutex> guard(server_->table.lock);
    for (int i = server_->table.count; i < kMaxCounters; ++i) {
      ASSERT_TRUE(server_->table.Append(("f" + std::to_string(i)).c_str()));
    }
  }
  const std::string file = home_.ReadSettings();
  const std::string table = Table();
  EXPECT_EQ(MessageOf(Send("POST", "command", "type=add&name=x&desc=y&pass=pw").body),
            "Error  Counter Table Full");
  EXPECT_EQ(home_.ReadSettings(), file);
  EXPECT_EQ(Table(), table);
}

TEST_F(BadInputTest, ImagesOfBadParametersAreTheErrorImageAndAdvanceNothing) {
  // The error image: "?" in the default style. A valid image of one digit has the same size.
  const Answer reference = Send("GET", "counter?p=df=none");
  ASSERT_EQ(reference.contentType, "gif");
  const auto errorImage = DecodeGif(reinterpret_cast<const unsigned char*>(reference.body.data()),
                                    static_cast<int>(reference.body.size()));
  const Answer digit = Send("GET", "counter?p=lit=0");
  const auto digitImage = DecodeGif(reinterpret_cast<const unsigned char*>(digit.body.data()),
                                    static_cast<int>(digit.body.size()));
  ASSERT_TRUE(errorImage.ok && digitImage.ok);
  EXPECT_EQ(errorImage.width, digitImage.width);
  EXPECT_NE(errorImage.pixels, digitImage.pixels);

  const std::string file = home_.ReadSettings();
  const std::string table = Table();
  struct ImageCase {
    const char* label;
    std::string query;
    std::string status;  // "200 OK": the error image; else an error page
  };
  const std::vector<ImageCase> cases = {
      {"empty name", "counter?p=df=", "200 OK"},
      {"name in another case", "counter?p=df=HOME", "200 OK"},
      {"name with an escaped '='", "counter?p=df=ho%3Dme", "200 OK"},
      {"invalid escape", "counter?p=df=home%zz", "200 OK"},
      {"half escape", "counter?p=df=home%4", "200 OK"},
      {"name of 5,000 bytes", "counter?p=df=" + std::string(5000, 'h'), "200 OK"},
      {"0x81 0x40 run around a name", "counter?p=df=" + Repeat("%81%40", 20) + "home", "200 OK"},
      {"half a Shift-JIS name", "counter?p=df=%83%65", "200 OK"},
      {"digits that are not", "counter?p=lit=12x", "200 OK"},
      {"no parameters", "counter?p=", "200 OK"},
      {"10,000 commas", "counter?p=" + std::string(10000, ','), "200 OK"},
      {"p twice", "counter?p=df=home&p=df=home", "400 Bad Request"},
      {"unknown parameter", "counter?p=df=home&q=1", "400 Bad Request"},
      {"no p at all", "counter", "400 Bad Request"},
      {"unknown command", "counters?p=df=home", "501 Not Implemented"},
  };
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.label);
    const Answer answer = Send("GET", c.query);
    EXPECT_EQ(answer.status, c.status);
    if (c.status == "200 OK") {
      EXPECT_EQ(answer.contentType, "gif");
      EXPECT_EQ(answer.body, reference.body);
    } else {
      EXPECT_EQ(answer.contentType, "html");
    }
    EXPECT_EQ(Table(), table);
  }
  for (const char* method : {"PUT", "DELETE", ""}) {
    EXPECT_EQ(Send(method, "counter?p=df=home").status, "501 Not Implemented") << method;
  }
  EXPECT_EQ(Table(), table);
  server_.reset();  // the final commit pass: nothing advanced, nothing written
  EXPECT_EQ(home_.ReadSettings(), file);
}

}  // namespace
}  // namespace vormel::testing

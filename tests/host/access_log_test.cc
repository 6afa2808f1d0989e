// The access log never holds the service password, and its lines are Common Log Format.
#include "host/access_log.h"

#include <gtest/gtest.h>

#include <regex>

namespace vormel {
namespace {

TEST(RedactTargetTest, PasswordsNeverSurvive) {
  struct Case {
    const char* target;
    const char* logged;
  } cases[] = {
      {"/cgi-bin/Vormel.dll?list?pass=secret", "/cgi-bin/Vormel.dll?list?pass=[redacted]"},
      {"/cgi-bin/Vormel.dll?List?PASS=secret&x=1", "/cgi-bin/Vormel.dll?List?PASS=[redacted]&x=1"},
      {"/v?command?type=add&name=a&desc=b&pass=s3",
       "/v?command?type=add&name=a&desc=b&pass=[redacted]"},
      {"/v?command?pass=a&pass=b", "/v?command?pass=[redacted]&pass=[redacted]"},
      {"/v?list?pass=", "/v?list?pass=[redacted]"},
      // Given by position, the password has no name to find it by.
      {"/v?List?secret", "/v?List?[redacted]"},
      {"/v?Command?add&a&&b&secret", "/v?Command?[redacted]&[redacted]&&[redacted]&[redacted]"},
      {"/v?MfcISAPICommand=List&secret", "/v?MfcISAPICommand=List&[redacted]"},
      // Other commands and names stay readable.
      {"/v?counter?p=df=sample,dd=a", "/v?counter?p=df=sample,dd=a"},
      {"/v?counter?12", "/v?counter?12"},
      {"/v?counter?passage=1", "/v?counter?passage=1"},
      {"/cgi-bin/Vormel.dll", "/cgi-bin/Vormel.dll"},
      {"/v?", "/v?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RedactTarget(c.target), c.logged) << c.target;
  }
}

TEST(AccessLineTest, CommonLogFormat) {
  AccessRecord record{"127.0.0.1", "GET", "/cgi-bin/Vormel.dll?list?pass=hunter2",
                      "HTTP/1.1",  200,   1234};
  std::string line = FormatAccessLine(record, 1700000000);
  std::regex clf(R"(127\.0\.0\.1 - - \[\d\d/[A-Z][a-z]{2}/2023:\d\d:\d\d:\d\d [+-]\d{4}\] )"
                 R"("GET /cgi-bin/Vormel\.dll\?list\?pass=\[redacted\] HTTP/1\.1" 200 1234)");
  EXPECT_TRUE(std::regex_match(line, clf)) << line;
  EXPECT_EQ(line.find("hunter2"), std::string::npos);
}

TEST(AccessLineTest, EmptyBodyAndHostileBytes) {
  AccessRecord record{"::1", "G\"ET", "/a\nb", "HTTP/1.0", 404, 0};
  std::string line = FormatAccessLine(record, 0);
  EXPECT_NE(line.find("\"G\\x22ET /a\\x0ab HTTP/1.0\" 404 -"), std::string::npos) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
}

}  // namespace
}  // namespace vormel

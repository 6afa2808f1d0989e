// Command-line parsing: defaults, each option, and the refusals.
#include "host/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace vormel {
namespace {

bool Parse(std::vector<const char*> args, Options& options, std::string& error) {
  return ParseOptions(args, options, error);
}

TEST(OptionsTest, Defaults) {
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({}, options, error)) << error;
  EXPECT_EQ(options.listen_host, "127.0.0.1");
  EXPECT_EQ(options.listen_port, 8080);
  EXPECT_EQ(options.home, "./data");
  EXPECT_EQ(options.mount, "/cgi-bin");
  EXPECT_GE(options.threads, 1u);
  EXPECT_EQ(options.access_log, "");
  EXPECT_EQ(options.module, "");
  EXPECT_FALSE(options.help);
}

TEST(OptionsTest, EveryOption) {
  Options options;
  std::string error;
  ASSERT_TRUE(Parse({"--listen", "0.0.0.0:0", "--home=/tmp/h", "--mount", "/x/y/", "--threads", "3",
                     "--access-log", "-", "--module", "/m.so", "--read-timeout", "2",
                     "--idle-timeout=4", "--max-connections", "10", "--help"},
                    options, error))
      << error;
  EXPECT_EQ(options.listen_host, "0.0.0.0");
  EXPECT_EQ(options.listen_port, 0);
  EXPECT_EQ(options.home, "/tmp/h");
  EXPECT_EQ(options.mount, "/x/y");
  EXPECT_EQ(options.threads, 3u);
  EXPECT_EQ(options.access_log, "-");
  EXPECT_EQ(options.module, "/m.so");
  EXPECT_EQ(options.read_timeout_seconds, 2u);
  EXPECT_EQ(options.idle_timeout_seconds, 4u);
  EXPECT_EQ(options.max_connections, 10u);
  EXPECT_TRUE(options.help);
}

TEST(OptionsTest, ListenForms) {
  struct Case {
    const char* listen;
    const char* host;
    int port;
  } cases[] = {{"[::1]:9000", "::1", 9000},
               {"localhost:1", "localhost", 1},
               {"1.2.3.4:65535", "1.2.3.4", 65535}};
  for (const auto& c : cases) {
    Options options;
    std::string error;
    ASSERT_TRUE(Parse({"--listen", c.listen}, options, error)) << c.listen << ": " << error;
    EXPECT_EQ(options.listen_host, c.host);
    EXPECT_EQ(options.listen_port, c.port);
  }
  Options root;
  std::string error;
  ASSERT_TRUE(Parse({"--mount", "/"}, root, error));
  EXPECT_EQ(root.mount, "");
}

TEST(OptionsTest, Refusals) {
  const std::vector<std::vector<const char*>> cases = {
      {"--listen", "8080"},   {"--listen", "127.0.0.1:65536"},
      {"--listen", "h:x"},    {"--listen", "[::1:80"},
      {"--threads", "0"},     {"--threads", "2x"},
      {"--mount", "cgi-bin"}, {"--mount", "/a?b"},
      {"--home", ""},         {"--read-timeout", "0"},
      {"--bogus", "1"},       {"stray"},
      {"--listen"},
  };
  for (const auto& args : cases) {
    Options options;
    std::string error;
    EXPECT_FALSE(Parse(args, options, error)) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(error.empty());
  }
}

TEST(OptionsTest, UsageNamesEveryOption) {
  for (const char* name : {"--listen", "--home", "--mount", "--threads", "--access-log", "--module",
                           "--read-timeout", "--idle-timeout", "--max-connections", "--help"}) {
    EXPECT_NE(UsageText().find(name), std::string_view::npos) << name;
  }
}

}  // namespace
}  // namespace vormel

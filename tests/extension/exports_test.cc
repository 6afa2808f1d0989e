#include <gtest/gtest.h>

#include <cstring>

#include "extension/extension_server.h"
#include "tests/support/fake_request.h"

extern "C" vormel::BOOL GetExtensionVersion(vormel::HSE_VERSION_INFO* info);
extern "C" vormel::DWORD HttpExtensionProc(vormel::EXTENSION_CONTROL_BLOCK* request);
extern "C" vormel::BOOL TerminateExtension(vormel::DWORD flags);

namespace vormel {
namespace {

class RefusingServer : public ExtensionServer {
 public:
  RefusingServer() : ExtensionServer('&') {}
  BOOL TerminateExtension(DWORD) override { return FALSE; }
};

TEST(ExportsTest, WithoutServerObjectNothingIsSent) {
  ASSERT_EQ(activeServer, nullptr);
  HSE_VERSION_INFO info{};
  EXPECT_EQ(GetExtensionVersion(&info), FALSE);
  testing::FakeRequest request("GET", "counter?p=1");
  request.block()->dwHttpStatusCode = 0;
  EXPECT_EQ(HttpExtensionProc(request.block()), HSE_STATUS_ERROR);
  EXPECT_EQ(request.block()->dwHttpStatusCode, 500u);
  EXPECT_TRUE(request.headerSends.empty());
  EXPECT_TRUE(request.writes.empty());
  for (DWORD flags : {0u, HSE_TERM_ADVISORY_UNLOAD, HSE_TERM_MUST_UNLOAD, 0xFFFFFFFFu}) {
    EXPECT_EQ(TerminateExtension(flags), TRUE);
  }
}

TEST(ExportsTest, ForwardToTheServerObjectWhileItLives) {
  {
    RefusingServer server;
    EXPECT_EQ(activeServer, &server);
    HSE_VERSION_INFO info;
    std::memset(&info, 'x', sizeof info);
    EXPECT_EQ(GetExtensionVersion(&info), TRUE);
    EXPECT_EQ(info.dwExtensionVersion, 0x40000u);
    EXPECT_STREQ(info.lpszExtensionDesc, "");
    EXPECT_EQ(TerminateExtension(0), FALSE);
    testing::FakeRequest request("GET", "Report?x=1");
    EXPECT_EQ(HttpExtensionProc(request.block()), HSE_STATUS_ERROR);
    EXPECT_EQ(request.block()->dwHttpStatusCode, 501u);
  }
  EXPECT_EQ(activeServer, nullptr);
}

}  // namespace
}  // namespace vormel

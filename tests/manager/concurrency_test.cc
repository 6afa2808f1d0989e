#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>

#include "tests/manager/manager_fixture.h"

namespace vormel::testing {
namespace {

class ManagerConcurrencyTest : public ManagerTest {};

// Pages written while other requests add, reset and delete list only whole rows, alternating.
TEST_F(ManagerConcurrencyTest, PagesDuringChangesListWholeRows) {
  Start("[global]\r\npass=pw\r\n[counter]\r\nkeep=1\r\n[desc]\r\nkeep=Kept,2000/01/01\r\n");
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int i = 0; i < 80; ++i) {
      const std::string name = "c" + std::to_string(i);
      CommandPage("add", name.c_str(), "D", "pw");
      CommandPage("reset", name.c_str(), std::to_string(i * 7).c_str(), "pw");
      if (i % 2 == 0) CommandPage("del", name.c_str(), "", "pw");
    }
    done = true;
  });
  const std::regex row(
      "<TR( BGCOLOR=#FFFFAA)?><TD>(keep|c[0-9]+)</TD><TD><IMG ALIGN=middle "
      "SRC=\"Vormel.dll\\?counter\\?p=lit=[0-9]{8}\"></TD><TD>(Kept|D)</TD><TD>"
      "(2000/01/01|2024/05/06)</TD></TR>\r\n");
  int pages = 0;
  while (!done || pages == 0) {
    const std::string page = ListPage("pw");
    const std::string end = "</TABLE></FORM>\r\n";
    std::size_t at = page.find("VALUE=Submit></TD></TR>\r\n") + 25;
    bool yellow = false;
    for (std::smatch m; std::regex_search(page.cbegin() + static_cast<long>(at),
                                          page.cbegin() + static_cast<long>(page.find(end)), m, row,
                                          std::regex_constants::match_continuous);) {
      ASSERT_EQ(m[1].matched, yellow) << page;
      yellow = !yellow;
      at += static_cast<std::size_t>(m.length(0));
    }
    ASSERT_EQ(page.compare(at, end.size(), end), 0) << page.substr(at, 200);
    ++pages;
  }
  changer.join();
  EXPECT_EQ(MessageOf(CommandPage("add", "c1", "D", "pw")), "Error  Counter Name Exist!");
  EXPECT_EQ(MessageOf(CommandPage("del", "c0", "", "pw")), "Error  Counter Name not found!");
}

}  // namespace
}  // namespace vormel::testing

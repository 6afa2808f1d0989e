#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>

#include "tests/manager/manager_fixture.h"
#include "tests/support/fake_request.h"

namespace vormel::testing {
namespace {

const std::string kHead =
    "<HTML><HEAD><TITLE>Vormel 2.31 for IIS  Service Manager</TITLE></HEAD>\r\n"
    "<BODY BGCOLOR=#FFFFFF>\r\n"
    "<CENTER><H2>Vormel 2.31 for IIS  Service Manager</H2>\r\n";

std::string Form(const std::string& pass) {
  return "<FORM METHOD=POST ACTION=\"Vormel.dll?command\">\r\n"
         "<TABLE BORDER BORDER=1>\r\n"
         "<TR BGCOLOR=blue>\r\n"
         "<TH><FONT COLOR=white>Counter Name</TH>\r\n"
         "<TH><FONT COLOR=white>Value</TH>\r\n"
         "<TH><FONT COLOR=white>Description</TH>\r\n"
         "<TH><FONT COLOR=white>Command</TH></TR>\r\n"
         "<TR><TD><INPUT TYPE=text NAME=name></TD>\r\n"
         "<TD></TD><TD><INPUT TYPE=text NAME=desc>\r\n"
         "<INPUT TYPE=hidden NAME=pass VALUE=\"" +
         pass +
         "\"></TD><TD><SELECT NAME=type>\r\n"
         "<OPTION VALUE=add>Add\r\n"
         "<OPTION VALUE=reset>Reset\r\n"
         "<OPTION VALUE=del>Delete</SELECT>\r\n"
         "<INPUT TYPE=submit VALUE=Submit></TD></TR>\r\n";
}

std::string Samples(const std::string& bin) {
  return "</TABLE></FORM>\r\n"
         "<HR><H3>Vormel Samples</H3><BR>\r\n"
         "&lt;IMG SRC=\"/" +
         bin +
         "/Vormel.dll?counter?p=<I>Parameter</I>\"&gt;\r\n"
         "<BR><BR><TABLE BORDER>\r\n"
         "<TR><TH>Image</TH><TH>Parameter</TH></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=display=date\"></TD>\r\n"
         "<TD>display=date</TD></TR>\r\n"
         "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=display=clock\"></TD>\r\n"
         "<TD>display=clock</TD></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=df=sample,dd=a\"></TD>\r\n"
         "<TD>df=sample,dd=a</TD></TR>\r\n"
         "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=df=sample,dd=b,ft=5\"></TD>\r\n"
         "<TD>df=sample,dd=b,ft=5</TD></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=df=sample,dd=b,ft=10\"></TD>\r\n"
         "<TD>df=sample,dd=b,ft=10</TD></TR>\r\n"
         "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=df=sample,dd=c\"></TD>\r\n"
         "<TD>df=sample,dd=c</TD></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=df=sample,dd=d,ft=10,frgb=255;255;0\"></TD>\r\n"
         "<TD>df=sample,dd=d,ft=10,frgb=255;255;0</TD></TR>\r\n"
         "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=df=sample,dd=e\"></TD>\r\n"
         "<TD>df=sample,dd=e</TD></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=df=sample,dd=f\"></TD>\r\n"
         "<TD>df=sample,dd=f</TD></TR>\r\n"
         "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle "
         "SRC=\"Vormel.dll?counter?p=df=sample,dd=g,ft=9\"></TD>\r\n"
         "<TD>df=sample,dd=g,ft=9</TD></TR>\r\n"
         "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=df=sample,dd=h\"></TD>\r\n"
         "<TD>df=sample,dd=h</TD></TR>\r\n"
         "</TABLE></CENTER>\r\n"
         "<P ALIGN=right><FONT SIZE=\"-1\">Vormel 2.31 for IIS   Build 3  Jul  3 1999 "
         "09:05:36  \r\n"
         "<BR>";
}

const std::string kFoot =
    "<A HREF=\"mailto:webmaster@localhost\"><I>webmaster@localhost</I></A></FONT><P><P>\r\n";
const std::string kEnd = "</body></html>";

std::string Page(const std::string& rows, const std::string& pass = "secret") {
  return kHead + Form(pass) + rows + Samples("cgi-bin") + kFoot + kEnd;
}

// The rows between the input row and the end of the form.
std::string RowsOf(const std::string& page) {
  const std::string inputRowEnd = "<INPUT TYPE=submit VALUE=Submit></TD></TR>\r\n";
  const std::size_t begin = page.find(inputRowEnd);
  const std::size_t end = page.find("</TABLE></FORM>\r\n");
  if (begin == std::string::npos || end == std::string::npos) return "<no form>";
  return page.substr(begin + inputRowEnd.size(), end - begin - inputRowEnd.size());
}

class ServicePageTest : public ManagerTest {};

TEST_F(ServicePageTest, EmptyTableGivesFormSamplesAndFooter) {
  Start("[global]\r\npass=secret\r\n");
  EXPECT_EQ(ListPage("secret"), Page(""));
}

TEST_F(ServicePageTest, EveryEntryDeletedListsNoRow) {
  Start("[global]\r\npass=secret\r\n[counter]\r\na=1\r\nb=2\r\n");
  CommandPage("del", "a", "", "secret");
  CommandPage("del", "b", "", "secret");
  EXPECT_EQ(ListPage("secret"), Page(""));
}

TEST_F(ServicePageTest, RowsAlternateOverListedEntriesAndSplitTheDescription) {
  const std::string longDesc = std::string(250, 'L') + ",2024/01/01";  // cut to 255 bytes
  Start(
      "[global]\r\npass=secret\r\n"
      "[counter]\r\nzero=0\r\ngone=5\r\nten=1234567890\r\nnodesc=-3\r\nsame=7\r\nlong=1\r\n"
      "[desc]\r\nzero=First,1999/07/03\r\ngone=Gone,1999/07/03\r\nten=no comma here\r\n"
      "same=a,b,c\r\nlong=" +
      longDesc + "\r\n");
  {
    std::unique_lock<std::shared_mutex> guard(server_->table.lock);
    server_->table.MarkDeleted(1);
  }
  EXPECT_EQ(RowsOf(ListPage("secret")),
            "<TR><TD>zero</TD><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=lit=00000000\">"
            "</TD><TD>First</TD><TD>1999/07/03</TD></TR>\r\n"
            "<TR BGCOLOR=#FFFFAA><TD>ten</TD><TD><IMG ALIGN=middle "
            "SRC=\"Vormel.dll?counter?p=lit=1234567890\"></TD><TD>no comma here</TD><TD> "
            "</TD></TR>\r\n"
            "<TR><TD>nodesc</TD><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=lit=-0000003\">"
            "</TD><TD> </TD><TD> </TD></TR>\r\n"
            "<TR BGCOLOR=#FFFFAA><TD>same</TD><TD><IMG ALIGN=middle "
            "SRC=\"Vormel.dll?counter?p=lit=00000007\"></TD><TD>a</TD><TD>b,c</TD></TR>\r\n"
            "<TR><TD>long</TD><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=lit=00000001\">"
            "</TD><TD>" +
                std::string(250, 'L') + "</TD><TD>2024</TD></TR>\r\n");
}

TEST_F(ServicePageTest, ShowsTheValueInMemoryAndTheDescriptionOfTheFileNow) {
  Start("[global]\r\npass=secret\r\n[counter]\r\nhits=41\r\n[desc]\r\nhits=Old,2000/01/01\r\n");
  server_->table.values[0] = 42;
  std::ofstream(home_ / "vormel.ini", std::ios::binary)
      << "[global]\r\npass=secret\r\n[counter]\r\nhits=41\r\n[desc]\r\nhits=New,2000/01/02\r\n";
  EXPECT_EQ(RowsOf(ListPage("secret")),
            "<TR><TD>hits</TD><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=lit=00000042\">"
            "</TD><TD>New</TD><TD>2000/01/02</TD></TR>\r\n");
}

struct HeadFootCase {
  const char* settings;  // lines of [global]
  std::string head;      // what stands before the form
  std::string foot;      // what stands between the samples and the end
  std::string bin;
};

class HeadFootTest : public ManagerTest, public ::testing::WithParamInterface<HeadFootCase> {};

TEST_P(HeadFootTest, UsesSettingsThatPassTheFirstByteTest) {
  const HeadFootCase& c = GetParam();
  Start(std::string("[global]\r\npass=secret\r\n") + c.settings);
  EXPECT_EQ(ListPage("secret"), c.head + Form("secret") + Samples(c.bin) + c.foot + kEnd);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeadFootTest,
    ::testing::Values(HeadFootCase{"head=<h1>Mine & \"raw\"</h1>\r\nfoot=<i>bye</i></FONT>\r\n",
                                   "<h1>Mine & \"raw\"</h1>", "<i>bye</i></FONT>", "cgi-bin"},
                      HeadFootCase{"head=\r\nfoot=\r\n", kHead, kFoot, "cgi-bin"},
                      HeadFootCase{"head=\x01<h1>x</h1>\r\nfoot=\x1f<i>y</i>\r\n", kHead, kFoot,
                                   "cgi-bin"},
                      // A value's blanks are trimmed by the file, so a leading blank arrives only
                      // quoted into the field itself; see the test below.
                      HeadFootCase{"bin=\r\n", kHead, kFoot, ""},
                      HeadFootCase{"bin=scripts/<x>\r\n", kHead, kFoot, "scripts/<x>"}));

TEST_F(ServicePageTest, HeadOrFootBeginningWithABlankIsIgnored) {
  Start("[global]\r\npass=secret\r\n");
  std::snprintf(server_->head, sizeof server_->head, " <h1>x</h1>");
  std::snprintf(server_->foot, sizeof server_->foot, " <i>y</i>");
  EXPECT_EQ(ListPage("secret"), Page(""));
}

TEST_F(ServicePageTest, EscapesNamesDescriptionsDatesMessageAndPassword) {
  Start(
      "[global]\r\npass=a\"b <c>&'d\r\n[counter]\r\n<script>x=1\r\n"
      "[desc]\r\n<script>x=<b>\"bold\"</b>,1999'<i>\r\n");
  FakeRequest request("GET", "");
  RequestContext context(request.block());
  context.stream = server_->CreateStream();
  server_->WriteServicePage(context, "<m>&", server_->password);
  const std::string page(context.stream->data(), context.stream->length());
  EXPECT_EQ(page, kHead + "<B><FONT COLOR=red>&lt;m&gt;&amp;</FONT></B>\r\n" +
                      Form("a&quot;b &lt;c&gt;&amp;&#39;d") +
                      "<TR><TD>&lt;script&gt;x</TD><TD><IMG ALIGN=middle "
                      "SRC=\"Vormel.dll?counter?p=lit=00000001\"></TD><TD>&lt;b&gt;&quot;bold"
                      "&quot;&lt;/b&gt;</TD><TD>1999&#39;&lt;i&gt;</TD></TR>\r\n" +
                      Samples("cgi-bin") + kFoot + kEnd);
}

TEST_F(ServicePageTest, WrongPasswordGetsOnlyTheFailurePage) {
  Start("[global]\r\npass=secret\r\n");
  const std::string failure =
      "<html><head><title>Default MFC Web Server Extension</title></head><body>"
      "Vormel Authorization Failed</body></html>";
  for (const char* pass : {"Secret", "secret ", "secre", "", "secretsecret"}) {
    EXPECT_EQ(ListPage(pass), failure) << pass;
  }
}

// The whole request flow: the failure page carries a content type, the page no header line.
TEST_F(ServicePageTest, ResponseHeadersThroughTheRequestFlow) {
  Start("[global]\r\npass=open sesame\r\n");
  FakeRequest refused("GET", "list?pass=Open+sesame");
  server_->HttpExtensionProc(refused.block());
  ASSERT_EQ(refused.headerSends.size(), 1u);
  EXPECT_EQ(refused.headerSends[0].statusLine, "200 OK");
  EXPECT_EQ(refused.headerSends[0].header, "Content-Type: text/html\r\n");
  EXPECT_NE(refused.Written().find("Vormel Authorization Failed"), std::string::npos);

  FakeRequest listed("POST", "list", "pass=open+sesame");
  server_->HttpExtensionProc(listed.block());
  ASSERT_EQ(listed.headerSends.size(), 1u);
  EXPECT_EQ(listed.headerSends[0].statusLine, "200 OK");
  EXPECT_EQ(listed.headerSends[0].header, "");
  EXPECT_EQ(listed.Written(), "\r\n" + Page("", "open sesame"));
}

}  // namespace
}  // namespace vormel::testing

// The service manager page and the authorization-failure page. Everything that came from a
// request or from a counter is escaped; head, foot and bin are the administrator's own HTML.
#include <cstdio>
#include <cstring>
#include <shared_mutex>

#include "manager/html_escape.h"
#include "manager/name_rules.h"
#include "platform/profile.h"
#include "store/counter_extension.h"
#include "store/value_slot.h"

namespace vormel {
namespace {

constexpr char kBuiltInHead[] =
    "<HTML><HEAD><TITLE>Vormel 2.31 for IIS  Service Manager</TITLE></HEAD>\r\n"
    "<BODY BGCOLOR=#FFFFFF>\r\n"
    "<CENTER><H2>Vormel 2.31 for IIS  Service Manager</H2>\r\n";

constexpr char kFormStart[] =
    "<FORM METHOD=POST ACTION=\"Vormel.dll?command\">\r\n"
    "<TABLE BORDER BORDER=1>\r\n"
    "<TR BGCOLOR=blue>\r\n"
    "<TH><FONT COLOR=white>Counter Name</TH>\r\n"
    "<TH><FONT COLOR=white>Value</TH>\r\n"
    "<TH><FONT COLOR=white>Description</TH>\r\n"
    "<TH><FONT COLOR=white>Command</TH></TR>\r\n"
    "<TR><TD><INPUT TYPE=text NAME=name></TD>\r\n"
    "<TD></TD><TD><INPUT TYPE=text NAME=desc>\r\n"
    "<INPUT TYPE=hidden NAME=pass VALUE=\"";

constexpr char kFormRest[] =
    "\"></TD><TD><SELECT NAME=type>\r\n"
    "<OPTION VALUE=add>Add\r\n"
    "<OPTION VALUE=reset>Reset\r\n"
    "<OPTION VALUE=del>Delete</SELECT>\r\n"
    "<INPUT TYPE=submit VALUE=Submit></TD></TR>\r\n";

constexpr char kSamplesHeading[] = "<HR><H3>Vormel Samples</H3><BR>\r\n&lt;IMG SRC=\"/";

constexpr char kSamples[] =
    "/Vormel.dll?counter?p=<I>Parameter</I>\"&gt;\r\n"
    "<BR><BR><TABLE BORDER>\r\n"
    "<TR><TH>Image</TH><TH>Parameter</TH></TR>\r\n"
    "<TR><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=display=date\"></TD>\r\n"
    "<TD>display=date</TD></TR>\r\n"
    "<TR BGCOLOR=#FFFFAA><TD><IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=display=clock\"></TD>\r\n"
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
    "<P ALIGN=right><FONT SIZE=\"-1\">Vormel 2.31 for IIS   Build 3  Jul  3 1999 09:05:36  \r\n"
    "<BR>";

// A local mailbox: the built-in footer must not point visitors at anyone outside this host.
constexpr char kBuiltInFoot[] =
    "<A HREF=\"mailto:webmaster@localhost\"><I>webmaster@localhost</I></A></FONT><P><P>\r\n";

}  // namespace

void CounterExtension::List(RequestContext& context, const char* pass) {
  if (PasswordMatches(pass)) {
    WriteServicePage(context, "", pass);
  } else {
    WriteAuthFailurePage(context);
  }
}

void CounterExtension::WriteAuthFailurePage(RequestContext& context) {
  StartHtmlContent(context);
  WriteHtmlTitle(context);
  context << "Vormel Authorization Failed";
  EndHtmlContent(context);
}

void CounterExtension::WriteServicePage(RequestContext& context, const char* message,
                                        const char* pass) {
  if (!context.stream) {
    EndHtmlContent(context);
    return;
  }
  HtmlStream& out = *context.stream;

  out << (PassesFirstByteTest(head) ? head : kBuiltInHead);
  if (message[0] != '\0') {
    out << "<B><FONT COLOR=red>";
    WriteEscaped(out, message);
    out << "</FONT></B>\r\n";
  }
  out << kFormStart;
  WriteEscaped(out, pass);
  out << kFormRest;

  {
    // One shared hold for the whole walk: no row is seen half added or half deleted.
    std::shared_lock<std::shared_mutex> guard(table.lock);
    const char* cursor = table.names;
    int listed = 0;
    for (int i = 0; i < table.count; ++i) {
      const char* name = cursor;
      cursor += table.nameLengths[i];
      if (!PassesFirstByteTest(name)) continue;

      out << (listed % 2 == 0 ? "<TR><TD>" : "<TR BGCOLOR=#FFFFAA><TD>");
      ++listed;
      WriteEscaped(out, name);
      out << "</TD><TD>";

      char desc[256];
      GetProfileString("desc", name, " ", desc, sizeof desc, settingsPath);

      char image[96];
      std::snprintf(image, sizeof image, "<IMG ALIGN=middle SRC=\"Vormel.dll?counter?p=lit=%08d\">",
                    static_cast<int>(LoadValue(table.values[i])));
      out << image << "</TD><TD>";

      const char* comma = std::strchr(desc, ',');
      if (comma == nullptr) {
        WriteEscaped(out, desc);
        out << "</TD><TD> ";
      } else {
        WriteEscaped(out, desc, static_cast<std::size_t>(comma - desc));
        out << "</TD><TD>";
        WriteEscaped(out, comma + 1);
      }
      out << "</TD></TR>\r\n";
    }
  }

  out << "</TABLE></FORM>\r\n" << kSamplesHeading << bin << kSamples;
  out << (PassesFirstByteTest(foot) ? foot : kBuiltInFoot);
  EndHtmlContent(context);
}

}  // namespace vormel

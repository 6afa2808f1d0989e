// Writes every style and the date, clock, frame and background variants as GIFs plus an
// index.html that shows them, into the directory given as the only argument.
#include <cstdio>
#include <cstring>
#include <string>

#include "renderer/render_block.h"
#include "renderer/request.h"

namespace {

struct Sample {
  const char* file;
  const char* parameters;
};

constexpr Sample kSamples[] = {
    {"style_a", "df=sample,dd=a"},
    {"style_b", "df=sample,dd=b"},
    {"style_c", "df=sample,dd=c"},
    {"style_d", "df=sample,dd=d"},
    {"style_e", "df=sample,dd=e"},
    {"style_f", "df=sample,dd=f"},
    {"style_g", "df=sample,dd=g"},
    {"style_h", "df=sample,dd=h"},
    {"all_digits_a", "lit=-1234567890,dd=a,group=yes"},
    {"all_digits_b", "lit=-1234567890,dd=b,group=yes"},
    {"all_digits_c", "lit=-1234567890,dd=c,group=yes"},
    {"all_digits_d", "lit=-1234567890,dd=d,group=yes"},
    {"all_digits_e", "lit=-1234567890,dd=e,group=yes"},
    {"all_digits_f", "lit=-1234567890,dd=f,group=yes"},
    {"all_digits_g", "lit=-1234567890,dd=g,group=yes"},
    {"all_digits_h", "lit=-1234567890,dd=h,group=yes"},
    {"date", "display=date,dd=c,tz=+0900"},
    {"date_dmy", "display=date,dd=f,datefmt=dmy,tz=+0100"},
    {"clock", "display=clock,dd=a,tz=+0900"},
    {"clock_12", "display=clock,dd=b,hours=12,tz=-0500"},
    {"frame_5", "df=sample,dd=b,ft=5"},
    {"frame_10", "df=sample,dd=b,ft=10"},
    {"frame_yellow", "df=sample,dd=d,ft=10,frgb=255;255;0"},
    {"frame_g9", "df=sample,dd=g,ft=9"},
    {"frame_0", "df=sample,dd=e,ft=0"},
    {"transparent", "df=sample,dd=g,bg=none,ft=0"},
    {"background", "df=sample,dd=c,bg=255;240;160"},
    {"error", "df=nosuchcounter,dd=c"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIRECTORY\n", argv[0]);
    return 2;
  }
  std::string dir = argv[1];
  char names[8192] = "sample";
  std::int32_t values[1000] = {1234566};
  std::int32_t lengths[1000] = {7};
  std::time_t fixed = 1718000000;  // a fixed moment, so the gallery is reproducible
  std::string html =
      "<!doctype html><html><head><meta charset=\"utf-8\"><title>Counter styles</title>"
      "<style>body{font:14px sans-serif;background:#eef0f3;margin:16px}"
      "figure{display:inline-block;margin:8px 12px;vertical-align:top}"
      "figcaption{font:12px monospace;color:#333;margin-top:4px}"
      ".checker{background:repeating-conic-gradient(#ccc 0 25%,#fff 0 50%) 0 0/12px 12px;"
      "padding:6px}</style></head><body><h1>Counter image styles</h1>\n";
  for (const Sample& s : kSamples) {
    unsigned char out[vormel::kRenderOutputCapacity];
    vormel::RenderBlock block{s.parameters, names, values, lengths, 0, 0, out};
    std::int32_t n = vormel::RenderRequest(
        block, fixed, [](std::time_t t) { return vormel::CivilAtOffset(t, 0); });
    std::string path = dir + "/" + s.file + ".gif";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr ||
        std::fwrite(out, 1, static_cast<std::size_t>(n), f) != static_cast<std::size_t>(n)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::fclose(f);
    bool checker = std::strstr(s.parameters, "bg=none") != nullptr;
    html += std::string("<figure><div") + (checker ? " class=\"checker\"" : "") + "><img src=\"" +
            s.file + ".gif\"></div><figcaption>" + s.parameters + " (" + std::to_string(n) +
            " B)</figcaption></figure>\n";
  }
  html += "</body></html>\n";
  std::string index = dir + "/index.html";
  std::FILE* f = std::fopen(index.c_str(), "w");
  if (f == nullptr) return 1;
  std::fputs(html.c_str(), f);
  std::fclose(f);
  return 0;
}

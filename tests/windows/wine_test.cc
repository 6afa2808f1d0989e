// Vormel.dll as the web server drives it, on Windows or under Wine: loaded with LoadLibraryA,
// reached through its three exports only, fed request blocks whose callbacks live here. Prints
// every failed check, then "N passed, N failed"; the exit status is non-zero on any failure.
#include <gif_lib.h>
#include <httpext.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vormel {
namespace {

class Checker {
 public:
  void Expect(bool ok, const std::string& what, const std::string& detail = {}) {
    if (ok) {
      ++passed_;
      return;
    }
    ++failed_;
    std::printf("FAILED: %s\n", what.c_str());
    if (!detail.empty()) std::printf("  got: %.600s\n", detail.c_str());
  }
  int Finish() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    return failed_ == 0 && passed_ > 0 ? 0 : 1;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

Checker check;

// One request: the block the module sees and everything it sent back. The body is handed
// over partly up front and the rest through ReadClient in small pieces, as a server does.
class Request {
 public:
  Request(const char* method, const char* query, const char* body = "")
      : method_(method), query_(query), body_(body) {
    block_.cbSize = sizeof block_;
    block_.dwVersion = MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR);
    block_.ConnID = this;
    block_.lpszMethod = method_.data();
    block_.lpszQueryString = query_.data();
    block_.lpszPathInfo = pathInfo_.data();
    block_.lpszPathTranslated = pathInfo_.data();
    block_.cbTotalBytes = static_cast<DWORD>(body_.size());
    block_.cbAvailable = static_cast<DWORD>(body_.size() < 5 ? body_.size() : 5);
    readOffset_ = block_.cbAvailable;
    block_.lpbData = reinterpret_cast<LPBYTE>(body_.data());
    block_.lpszContentType = contentType_.data();
    block_.GetServerVariable = &Variable;
    block_.WriteClient = &Write;
    block_.ReadClient = &Read;
    block_.ServerSupportFunction = &ServerSupport;
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  EXTENSION_CONTROL_BLOCK* block() { return &block_; }

  std::string statusLine;
  std::string header;
  std::string body;  // every WriteClient after the header, joined
  int headerSends = 0;

 private:
  static Request& Of(HCONN conn) { return *static_cast<Request*>(conn); }

  static BOOL WINAPI ServerSupport(HCONN conn, DWORD request, LPVOID buffer, LPDWORD,
                                   LPDWORD dataType) {
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    Request& self = Of(conn);
    ++self.headerSends;
    self.statusLine = buffer != nullptr ? static_cast<const char*>(buffer) : "200 OK";
    if (dataType != nullptr) self.header = reinterpret_cast<const char*>(dataType);
    return TRUE;
  }
  static BOOL WINAPI Write(HCONN conn, LPVOID buffer, LPDWORD bytes, DWORD) {
    Of(conn).body.append(static_cast<const char*>(buffer), *bytes);
    return TRUE;
  }
  static BOOL WINAPI Read(HCONN conn, LPVOID buffer, LPDWORD size) {
    Request& self = Of(conn);
    std::size_t n = self.body_.size() - self.readOffset_;
    if (n > 7) n = 7;
    if (n > *size) n = *size;
    std::memcpy(buffer, self.body_.data() + self.readOffset_, n);
    self.readOffset_ += n;
    *size = static_cast<DWORD>(n);
    return TRUE;
  }
  static BOOL WINAPI Variable(HCONN, LPSTR, LPVOID, LPDWORD) {
    SetLastError(ERROR_INVALID_INDEX);
    return FALSE;
  }

  EXTENSION_CONTROL_BLOCK block_{};
  std::string method_;
  std::string query_;
  std::string body_;
  std::string pathInfo_ = "/cgi-bin/Vormel.dll";
  std::string contentType_ = "application/x-www-form-urlencoded";
  std::size_t readOffset_ = 0;
};

class Module {
 public:
  explicit Module(const std::string& path) {
    handle_ = LoadLibraryA(path.c_str());
    if (handle_ == nullptr) return;
    version = reinterpret_cast<PFN_GETEXTENSIONVERSION>(
        reinterpret_cast<void*>(GetProcAddress(handle_, "GetExtensionVersion")));
    proc = reinterpret_cast<PFN_HTTPEXTENSIONPROC>(
        reinterpret_cast<void*>(GetProcAddress(handle_, "HttpExtensionProc")));
    terminate = reinterpret_cast<PFN_TERMINATEEXTENSION>(
        reinterpret_cast<void*>(GetProcAddress(handle_, "TerminateExtension")));
  }
  ~Module() { Unload(); }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool Loaded() const { return handle_ != nullptr && version && proc && terminate; }
  bool Unload() {
    if (handle_ == nullptr) return false;
    const bool freed = FreeLibrary(handle_) != FALSE;
    handle_ = nullptr;
    return freed;
  }

  PFN_GETEXTENSIONVERSION version = nullptr;
  PFN_HTTPEXTENSIONPROC proc = nullptr;
  PFN_TERMINATEEXTENSION terminate = nullptr;

 private:
  HMODULE handle_ = nullptr;
};

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

struct GifSource {
  const std::string* bytes;
  std::size_t offset;
};

int ReadGif(GifFileType* gif, GifByteType* out, int length) {
  auto* source = static_cast<GifSource*>(gif->UserData);
  std::size_t n = source->bytes->size() - source->offset;
  if (n > static_cast<std::size_t>(length)) n = static_cast<std::size_t>(length);
  std::memcpy(out, source->bytes->data() + source->offset, n);
  source->offset += n;
  return static_cast<int>(n);
}

// Decodes the whole GIF; returns "" when it is a well-formed image, else what went wrong.
std::string DecodeProblem(const std::string& bytes) {
  if (bytes.compare(0, 6, "GIF89a") != 0) return "no GIF89a signature";
  GifSource source{&bytes, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&source, &ReadGif, &error);
  if (gif == nullptr) return std::string("DGifOpen: ") + GifErrorString(error);
  std::string problem;
  if (DGifSlurp(gif) != GIF_OK) {
    problem = std::string("DGifSlurp: ") + GifErrorString(gif->Error);
  } else if (gif->SWidth <= 0 || gif->SHeight <= 0 || gif->ImageCount < 1) {
    problem = "empty image";
  } else {
    const SavedImage& image = gif->SavedImages[0];
    if (image.ImageDesc.Width <= 0 || image.ImageDesc.Height <= 0) problem = "empty frame";
  }
  DGifCloseFile(gif, &error);
  return problem;
}

// One request and what must come back; `parts` must all appear in the body.
struct Case {
  const char* name;
  const char* method;
  const char* query;
  const char* body;
  DWORD result;
  const char* status;
  std::vector<const char*> parts;
};

void RunCases(Module& module, const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    Request request(c.method, c.query, c.body);
    const DWORD result = module.proc(request.block());
    check.Expect(result == c.result, std::string(c.name) + ": result " + std::to_string(c.result),
                 std::to_string(result));
    check.Expect(request.headerSends == 1 && request.statusLine == c.status,
                 std::string(c.name) + ": status " + c.status, request.statusLine);
    for (const char* part : c.parts) {
      check.Expect(Contains(request.body, part), std::string(c.name) + ": body has " + part,
                   request.body);
    }
  }
}

// Requests an image of counter `name` and checks that a whole, decodable GIF comes back.
void CheckImage(Module& module, const char* name) {
  const std::string query = std::string("counter?p=df=") + name;
  Request request("GET", query.c_str());
  const DWORD result = module.proc(request.block());
  check.Expect(result == HSE_STATUS_SUCCESS && request.statusLine == "200 OK",
               query + ": answered 200", request.statusLine);
  check.Expect(Contains(request.header, "Content-Type: image/gif\r\n"), query + ": GIF type",
               request.header);
  const std::string gif = request.body.size() >= 2 ? request.body.substr(2) : std::string();
  check.Expect(request.body.compare(0, 2, "\r\n") == 0 &&
                   Contains(request.header,
                            ("Content-Length: " + std::to_string(gif.size()) + "\r\n").c_str()),
               query + ": length matches the image", request.header);
  const std::string problem = DecodeProblem(gif);
  check.Expect(problem.empty(), query + ": image decodes", problem);
}

std::string ReadFileText(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  CloseHandle(file);
  return text;
}

bool WriteFileText(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                  put == text.size();
  CloseHandle(file);
  return ok;
}

// Reads a value back with the system's own INI reader: the file must be one Windows tools read.
std::string SystemProfileValue(const char* section, const char* key, const std::string& path) {
  char value[256];
  GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, path.c_str());
  return value;
}

std::string ModuleDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

// The file the operator prepared; the test checks that lines the module has no business with
// come back byte for byte.
constexpr char kSeedSettings[] =
    "; hand-written settings\r\n"
    "[global]\r\n"
    "pass=secret\r\n"
    "\r\n"
    "[Counter]\r\n"
    "seed=41\r\n"
    "Mixed=7\r\n"
    "[desc]\r\n"
    "seed=Seeded,2020/01/02\r\n"
    "[other]\r\n"
    "  spaced key = kept as is  \r\n";

// Settings in the directory VORMEL_HOME names: pages, maintenance, images, the file after unload.
void TestWithSettingsHome(const std::string& dll) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string home =
      std::string(temp) + "vormel-wine-test-" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(home.c_str(), nullptr);
  const std::string settings = home + "\\vormel.ini";
  check.Expect(WriteFileText(settings, kSeedSettings), "seed settings written");
  SetEnvironmentVariableA("VORMEL_HOME", (home + "\\").c_str());

  Module module(dll);
  check.Expect(module.Loaded(), "LoadLibraryA and the three exports");
  if (!module.Loaded()) return;

  HSE_VERSION_INFO info{};
  check.Expect(module.version(&info) == TRUE, "GetExtensionVersion succeeds");
  check.Expect(info.dwExtensionVersion == MAKELONG(HSE_VERSION_MINOR, HSE_VERSION_MAJOR),
               "extension version 4.0", std::to_string(info.dwExtensionVersion));
  check.Expect(std::strcmp(info.lpszExtensionDesc, "Vormel Extension") == 0,
               "description from the string table", info.lpszExtensionDesc);

  const char* kFailed = "Vormel Authorization Failed";
  RunCases(module, {
                       {"unknown command",
                        "GET",
                        "Report?x=1",
                        "",
                        HSE_STATUS_ERROR,
                        "501 Not Implemented",
                        {"<TITLE>HTTP Error 501</TITLE>", "NOT IMPLEMENTED", "<b>Report?x=1</b>"}},
                       {"unknown method",
                        "PUT",
                        "list?pass=secret",
                        "",
                        HSE_STATUS_ERROR,
                        "501 Not Implemented",
                        {"<b>PUT</b>"}},
                       {"missing parameter",
                        "GET",
                        "List",
                        "",
                        HSE_STATUS_ERROR,
                        "400 Bad Request",
                        {"<TITLE>HTTP Error 400</TITLE>", "BAD REQUEST", "Request: List"}},
                       {"list, wrong password",
                        "GET",
                        "list?pass=SECRET",
                        "",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {kFailed}},
                       {"list",
                        "GET",
                        "list?pass=secret",
                        "",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Service Manager", "<TD>seed</TD>", "lit=00000041", "<TD>Mixed</TD>",
                         "lit=00000007", "Seeded</TD><TD>2020/01/02"}},
                       {"add, wrong password",
                        "POST",
                        "command",
                        "name=fresh&desc=Fresh&pass=-&type=add",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {kFailed}},
                       {"add",
                        "POST",
                        "command",
                        "name=fresh&desc=Fresh&pass=secret&type=add",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Counter Added!", "<TD>fresh</TD>", "lit=00000000"}},
                       {"add twice",
                        "POST",
                        "command",
                        "name=fresh&desc=Fresh&pass=secret&type=add",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Counter Name Exist!"}},
                       {"reset",
                        "POST",
                        "command",
                        "name=fresh&desc=500&pass=secret&type=reset",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Counter Reset!", "lit=00000500"}},
                       {"delete",
                        "POST",
                        "command",
                        "name=seed&desc=x&pass=secret&type=del",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Counter Deleted!"}},
                       {"delete unknown",
                        "POST",
                        "command",
                        "name=nobody&desc=x&pass=secret&type=del",
                        HSE_STATUS_SUCCESS,
                        "200 OK",
                        {"Counter Name not found!"}},
                   });

  CheckImage(module, "fresh");
  CheckImage(module, "Mixed");
  RunCases(module, {{"list after images",
                     "GET",
                     "list?pass=secret",
                     "",
                     HSE_STATUS_SUCCESS,
                     "200 OK",
                     {"lit=00000501", "lit=00000008"}}});
  Request list("GET", "list?pass=secret");
  module.proc(list.block());
  check.Expect(!Contains(list.body, "<TD>seed</TD>"), "deleted counter not listed", list.body);

  for (DWORD flags : {DWORD{0}, DWORD{HSE_TERM_ADVISORY_UNLOAD}, DWORD{HSE_TERM_MUST_UNLOAD}}) {
    check.Expect(module.terminate(flags) == TRUE,
                 "TerminateExtension(" + std::to_string(flags) + ")");
  }
  check.Expect(module.Unload(), "FreeLibrary");

  // The final commit at unload wrote the image hits; maintenance wrote its own changes.
  const std::string text = ReadFileText(settings);
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } kExpected[] = {
      {"counter", "fresh", "501"},      {"counter", "Mixed", "8"},
      {"counter", "seed", "<missing>"}, {"desc", "seed", "<missing>"},
      {"global", "pass", "secret"},     {"other", "spaced key", "kept as is"},
  };
  for (const auto& row : kExpected) {
    check.Expect(SystemProfileValue(row.section, row.key, settings) == row.value,
                 std::string("after unload: [") + row.section + "] " + row.key + " = " + row.value,
                 text);
  }
  check.Expect(SystemProfileValue("desc", "fresh", settings).compare(0, 6, "Fresh,") == 0,
               "after unload: [desc] fresh holds the description and date", text);
  for (const char* line :
       {"; hand-written settings\r\n[global]\r\npass=secret\r\n\r\n[Counter]\r\n",
        "[other]\r\n  spaced key = kept as is  \r\n"}) {
    check.Expect(Contains(text, line), "untouched lines kept byte for byte", text);
  }
  bool crlf = !text.empty() && !Contains(text, "\r\r");
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
    crlf = crlf && i > 0 && text[i - 1] == '\r';
  }
  check.Expect(crlf, "every line of the file still ends in CRLF", text);

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((home + "\\*.tmp").c_str(), &found);
  check.Expect(search == INVALID_HANDLE_VALUE, "no temporary file left beside the settings");
  if (search != INVALID_HANDLE_VALUE) FindClose(search);

  DeleteFileA(settings.c_str());
  RemoveDirectoryA(home.c_str());
}

// Without VORMEL_HOME the settings live in the system directory.
void TestWithSystemDirectory(const std::string& dll) {
  SetEnvironmentVariableA("VORMEL_HOME", nullptr);
  char system[MAX_PATH];
  const UINT length = GetSystemDirectoryA(system, sizeof system);
  check.Expect(length > 0 && length < sizeof system, "GetSystemDirectoryA");
  const std::string settings = std::string(system) + "\\vormel.ini";
  DeleteFileA(settings.c_str());

  {
    Module module(dll);
    check.Expect(module.Loaded(), "second LoadLibraryA");
    if (!module.Loaded()) return;
    RunCases(module, {
                         {"add with the default password",
                          "POST",
                          "command",
                          "name=sys&desc=System&pass=-&type=add",
                          HSE_STATUS_SUCCESS,
                          "200 OK",
                          {"Counter Added!"}},
                     });
    CheckImage(module, "sys");
    CheckImage(module, "sys");
    check.Expect(module.Unload(), "second FreeLibrary");
  }
  check.Expect(SystemProfileValue("counter", "sys", settings) == "2",
               "system directory file holds the counter after unload", ReadFileText(settings));
  DeleteFileA(settings.c_str());
}

}  // namespace
}  // namespace vormel

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // progress stays visible if a step hangs
  // Kandri.dll is found beside Vormel.dll, as on the server.
  const std::string dll = argc > 1 ? argv[1] : vormel::ModuleDirectory() + "Vormel.dll";
  vormel::TestWithSettingsHome(dll);
  vormel::TestWithSystemDirectory(dll);
  return vormel::check.Finish();
}

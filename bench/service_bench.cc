// The module's request path without the HTTP host: command selection and binding through
// HttpExtensionProc, a commit pass over 1000 changed counters, and the manager page with 1000
// counters. The counter service runs over a settings file in a temporary directory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "extension/extension_server.h"
#include "store/counter_extension.h"
#include "store/value_slot.h"

namespace vormel {
namespace {

// A request block that takes the response and keeps only its size.
class BenchRequest {
 public:
  BenchRequest(const char* method, const std::string& query) : method_(method) {
    query_.assign(query.begin(), query.end());
    query_.push_back('\0');
    block_.cbSize = sizeof block_;
    block_.dwVersion = 0x40000;
    block_.ConnID = this;
    block_.lpszMethod = method_.data();
    block_.lpszQueryString = query_.data();
    block_.lpszPathInfo = pathInfo_.data();
    block_.lpszPathTranslated = pathInfo_.data();
    block_.lpszContentType = contentType_.data();
    block_.GetServerVariable = &Variable;
    block_.WriteClient = &Write;
    block_.ReadClient = &Read;
    block_.ServerSupportFunction = &Support;
  }

  // The frame cuts the query in place; each call starts again from the original text.
  EXTENSION_CONTROL_BLOCK* Fresh() {
    working_ = query_;
    block_.lpszQueryString = working_.data();
    block_.dwHttpStatusCode = 0;
    return &block_;
  }
  EXTENSION_CONTROL_BLOCK* block() { return &block_; }
  std::size_t written = 0;

 private:
  static BOOL WINAPI Variable(HCONN, LPSTR, LPVOID, LPDWORD) { return FALSE; }
  static BOOL WINAPI Read(HCONN, LPVOID, LPDWORD size) {
    *size = 0;
    return TRUE;
  }
  static BOOL WINAPI Write(HCONN conn, LPVOID, LPDWORD bytes, DWORD) {
    static_cast<BenchRequest*>(conn)->written += *bytes;
    return TRUE;
  }
  static BOOL WINAPI Support(HCONN conn, DWORD request, LPVOID, LPDWORD, LPDWORD) {
    if (request != HSE_REQ_SEND_RESPONSE_HEADER) return FALSE;
    static_cast<BenchRequest*>(conn)->written += 1;
    return TRUE;
  }

  EXTENSION_CONTROL_BLOCK block_{};
  std::string method_;
  std::vector<char> query_;
  std::vector<char> working_;
  std::string pathInfo_ = "/Vormel.dll";
  std::string contentType_;
};

// The counter service's command shapes with handlers that write nothing, so the frame's own
// selection, binding and response path is all that is measured.
class NullServer : public ExtensionServer {
 public:
  NullServer() : ExtensionServer('&') {}
  void Counter(RequestContext&, const char* p) { benchmark::DoNotOptimize(p); }
  void List(RequestContext&, const char* pass) { benchmark::DoNotOptimize(pass); }
  void Command(RequestContext&, const char* type, const char* name, const char* desc,
               const char* pass) {
    benchmark::DoNotOptimize(type);
    benchmark::DoNotOptimize(name);
    benchmark::DoNotOptimize(desc);
    benchmark::DoNotOptimize(pass);
  }
  const CommandTable* GetCommandTable() const override { return &table_; }

 private:
  static CommandEntry entries_[];
  static const CommandTable table_;
};

CommandEntry NullServer::entries_[] = {
    VORMEL_COMMAND(NullServer, Counter, "p"),
    VORMEL_COMMAND(NullServer, List, "pass"),
    VORMEL_COMMAND(NullServer, Command, "type name desc pass"),
};
const CommandTable NullServer::table_{entries_, nullptr};

const char* const kSelectionQueries[] = {
    "counter&p=df=sample,dd=a",
    "LIST&pass=secret",
    "command&type=add&name=new%20one&desc=A+description&pass=secret",
    "nosuchcommand&x=1",
};

void BM_CallCommand(benchmark::State& state) {
  NullServer server;
  BenchRequest request("GET", kSelectionQueries[state.range(0)]);
  for (auto _ : state) {
    DWORD result = server.HttpExtensionProc(request.Fresh());
    benchmark::DoNotOptimize(result);
  }
  state.counters["status"] = request.block()->dwHttpStatusCode;
}
BENCHMARK(BM_CallCommand)->DenseRange(0, 3)->ArgName("query");

// A settings directory with `sample` and 999 more counters, named by VORMEL_HOME.
class ServiceHome {
 public:
  ServiceHome() {
    char pattern[] = "/tmp/vormel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    std::ofstream ini(dir_ + "/vormel.ini", std::ios::binary);
    ini << "[global]\r\npass=secret\r\ncommit=3600\r\n[counter]\r\nsample=0\r\n";
    char line[64];
    for (int i = 1; i < kMaxCounters; ++i) {
      std::snprintf(line, sizeof line, "c%03d=%d\r\n", i, i * 1234);
      ini << line;
    }
    ini << "[desc]\r\nsample=The sample,2024/05/01\r\n";
    for (int i = 1; i < kMaxCounters; ++i) {
      std::snprintf(line, sizeof line, "c%03d=Counter number %d,2024/05/%02d\r\n", i, i,
                    i % 28 + 1);
      ini << line;
    }
    ini.close();
    setenv("VORMEL_HOME", dir_.c_str(), 1);
  }
  ~ServiceHome() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string dir_;
};

void BM_CommitPass1000(benchmark::State& state) {
  ServiceHome home;
  auto server = std::make_unique<CounterExtension>();
  CounterTable& table = server->table;
  int entries = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < table.count; ++i) AdvanceValue(table.values[i]);
    state.ResumeTiming();
    entries = CommitPass(server->commitParams());
  }
  state.counters["counters"] = table.count;
  state.counters["written"] = entries;
  if (entries != kMaxCounters) state.SkipWithError("the pass did not write every counter");
}
BENCHMARK(BM_CommitPass1000)->Unit(benchmark::kMillisecond);

void BM_WriteServicePage1000(benchmark::State& state) {
  ServiceHome home;
  auto server = std::make_unique<CounterExtension>();
  BenchRequest request("POST", "list");
  std::size_t bytes = 0;
  for (auto _ : state) {
    RequestContext context(request.Fresh());
    context.stream = server->CreateStream();
    server->WriteServicePage(context, "", "secret");
    bytes = context.stream->length();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  if (bytes < 100000) state.SkipWithError("the page is shorter than 1000 rows");
}
BENCHMARK(BM_WriteServicePage1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vormel

BENCHMARK_MAIN();

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace vormel {
namespace {

namespace fs = std::filesystem;

constexpr int kKeys = 1000;

struct BenchFile {
  BenchFile() {
    std::string pattern = (fs::temp_directory_path() / "vormel-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) dir = pattern;
    path = dir + "/vormel.ini";
    for (int i = 0; i < kKeys; ++i) keys.push_back("counter" + std::to_string(i));
  }
  ~BenchFile() { fs::remove_all(dir); }

  bool WriteAll(int value) {
    const std::string text = std::to_string(value);
    std::vector<ProfileChange> changes;
    for (const std::string& key : keys) changes.push_back({key.c_str(), text.c_str()});
    return WriteProfileStrings("counter", changes, path.c_str());
  }

  std::string dir;
  std::string path;
  std::vector<std::string> keys;
};

// A commit pass in which all 1000 counters changed: one replacement of a 1000-key file,
// including its flush to disk.
void BM_BatchWrite1000Keys(benchmark::State& state) {
  BenchFile file;
  file.WriteAll(0);
  int value = 1;
  for (auto _ : state) {
    if (!file.WriteAll(value++)) state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_BatchWrite1000Keys)->Unit(benchmark::kMillisecond);

// The service page reading every description of an unchanged 1000-key file.
void BM_Read1000KeysOfUnchangedFile(benchmark::State& state) {
  BenchFile file;
  file.WriteAll(7);
  char buffer[256];
  for (auto _ : state) {
    for (const std::string& key : file.keys) {
      benchmark::DoNotOptimize(
          GetProfileString("counter", key.c_str(), "", buffer, sizeof buffer, file.path.c_str()));
    }
  }
}
BENCHMARK(BM_Read1000KeysOfUnchangedFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vormel

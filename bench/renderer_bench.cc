// Counter2 for an 8-digit counter in every style, the two ways of coding its image side by
// side, and the parse step alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "renderer/image.h"
#include "renderer/params.h"
#include "renderer/render_block.h"

namespace {

void BM_Counter2(benchmark::State& state) {
  std::string parameters = "df=bench,dd=" + std::string(1, static_cast<char>('a' + state.range(0)));
  char names[8192] = "bench";
  std::int32_t values[1000] = {12345678};
  std::int32_t lengths[1000] = {6};
  unsigned char out[vormel::kRenderOutputCapacity];
  std::int32_t bytes = 0;
  for (auto _ : state) {
    vormel::RenderBlock block{parameters.c_str(), names, values, lengths, 0, 0, out};
    bytes = Counter2(&block);
    benchmark::DoNotOptimize(bytes);
    if (values[0] > 99999990) values[0] = 12345678;  // stay at eight digits
  }
  state.counters["bytes"] = bytes;
}
BENCHMARK(BM_Counter2)->DenseRange(0, 7)->ArgName("style");

// Fixed digits repeat from request to request: after the first call they come from the cache.
void BM_Counter2Lit(benchmark::State& state) {
  const char* parameters = "lit=12345678,dd=c,ft=5";
  unsigned char out[vormel::kRenderOutputCapacity];
  std::int32_t bytes = 0;
  for (auto _ : state) {
    vormel::RenderBlock block{parameters, nullptr, nullptr, nullptr, 0, 0, out};
    bytes = Counter2(&block);
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["bytes"] = bytes;
}
BENCHMARK(BM_Counter2Lit);

// The image alone, spliced from pre-coded rows or coded by giflib (the fallback), for the
// digits an advancing 8-digit counter draws.
void BM_RenderCells(benchmark::State& state) {
  vormel::ImageOptions options;
  options.style = static_cast<int>(state.range(0));
  const auto encoder = static_cast<vormel::GifEncoder>(state.range(1));
  unsigned char out[vormel::kRenderOutputCapacity];
  char text[16];
  int value = 12345678;
  int bytes = 0;
  for (auto _ : state) {
    std::snprintf(text, sizeof text, "%d", value);
    bytes = vormel::RenderCellsWith(encoder, text, options, out, vormel::kRenderOutputCapacity);
    benchmark::DoNotOptimize(bytes);
    if (++value > 99999999) value = 12345678;
  }
  state.counters["bytes"] = bytes;
  state.SetLabel(encoder == vormel::GifEncoder::kSpliced ? "spliced" : "giflib");
}
BENCHMARK(BM_RenderCells)
    ->ArgsProduct({benchmark::CreateDenseRange(0, 7, 1),
                   {static_cast<int>(vormel::GifEncoder::kSpliced),
                    static_cast<int>(vormel::GifEncoder::kGiflib)}})
    ->ArgNames({"style", "encoder"});

void BM_ParseParams(benchmark::State& state) {
  for (auto _ : state) {
    vormel::RenderParams p = vormel::ParseParams("df=sample,dd=d,ft=10,frgb=255;255;0,digits=8");
    benchmark::DoNotOptimize(p);
  }
}
BENCHMARK(BM_ParseParams);

}  // namespace

BENCHMARK_MAIN();

// Feeds arbitrary bytes as the parameter text to the renderer against a small counter table:
// the result must stay within the output buffer and always decode as a GIF.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "renderer/render_block.h"
#include "renderer/request.h"
#include "tests/renderer/gif_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  char parameters[4096];
  std::size_t n = size < sizeof parameters - 1 ? size : sizeof parameters - 1;
  std::memcpy(parameters, data, n);
  parameters[n] = '\0';

  static const char kNames[] = "sample\0 one\0max\0neg";
  char names[8192] = {};
  std::memcpy(names, kNames, sizeof kNames);
  std::int32_t values[1000] = {41, 7, INT32_MAX, INT32_MIN};
  std::int32_t lengths[1000] = {7, 5, 4, 4};
  // Guard bytes after the buffer catch a write past its end.
  unsigned char out[vormel::kRenderOutputCapacity + 16];
  std::memset(out, 0x5A, sizeof out);
  vormel::RenderBlock block{parameters, names, values, lengths, 0, 0, out};
  std::int32_t length =
      vormel::RenderRequest(block, static_cast<std::time_t>(size) * 7919,
                            [](std::time_t t) { return vormel::CivilAtOffset(t, 0); });
  if (length <= 0 || length > vormel::kRenderOutputCapacity) std::abort();
  for (std::size_t i = vormel::kRenderOutputCapacity; i < sizeof out; ++i) {
    if (out[i] != 0x5A) std::abort();
  }
  if (!vormel::testing::DecodeGif(out, length).ok) std::abort();
  if (values[1] != 7) std::abort();  // the deleted entry never moves
  return 0;
}

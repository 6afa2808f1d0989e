// The record handed to the renderer for one image. Seven words in a fixed order; on a 64-bit
// build each word is pointer-sized. The block, the parameter text and the output buffer live
// only for the call; the table addresses stay valid for the life of the module.
#pragma once

#include <cstdint>

namespace vormel {

inline constexpr int kRenderOutputCapacity = 10000;

struct RenderBlock {
  const char* parameters;     // NUL-terminated parameter text
  char* names;                // the table's names, back to back, each with its NUL
  std::int32_t* values;       // current values, advanced in place (atomically)
  std::int32_t* nameLengths;  // stride from one name to the next; 0 ends the table
  std::uintptr_t reserved;    // not used
  std::uintptr_t zero;        // always 0
  unsigned char* output;      // kRenderOutputCapacity bytes
};

static_assert(sizeof(RenderBlock) == 7 * sizeof(void*), "seven words, no padding");

}  // namespace vormel

// The renderer's one entry point: writes one GIF at the start of block->output and returns its
// length in bytes (0 to kRenderOutputCapacity). Safe on many threads at once.
extern "C" std::int32_t Counter2(vormel::RenderBlock* block);

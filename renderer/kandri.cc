// The renderer library's one export.
#include <ctime>

#include "renderer/render_block.h"
#include "renderer/request.h"

extern "C" __attribute__((visibility("default"))) std::int32_t Counter2(
    vormel::RenderBlock* block) {
  if (block == nullptr) return 0;
  try {
    return vormel::RenderRequest(*block, std::time(nullptr), vormel::LocalCivilTime);
  } catch (...) {
    return 0;
  }
}

// One image request: parse the parameters, find and advance the counter, compose the text and
// draw it. The clock is passed in so that the date and clock images can be tested.
#pragma once

#include <cstdint>
#include <ctime>

#include "renderer/civil_time.h"
#include "renderer/render_block.h"

namespace vormel {

using LocalTimeFunction = CivilTime (*)(std::time_t);

// The whole of Counter2 with an injected clock. Never throws; returns 0..kRenderOutputCapacity.
std::int32_t RenderRequest(const RenderBlock& block, std::time_t now, LocalTimeFunction local);

// The digits of value: at least minDigits, zero-filled, with ',' between groups of three when
// group is set. digits is the plain text (an optional '-' and digits). out holds kMaxCells + 1.
bool ComposeNumber(const char* digits, int minDigits, bool group, char* out);

// The slot of the first live entry named name, or nullptr.
std::int32_t* FindCounter(const RenderBlock& block, const char* name);

}  // namespace vormel

// Decimal text to number as the settings file is read: leading white space, one optional sign,
// digits up to the first other character; no digits gives 0. Out-of-range values saturate.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vormel {

std::int32_t ParseDecimal(const char* text);
// The same conversion, without saturation to 32 bits (for products that must be clamped).
std::int64_t ParseDecimal64(const char* text);

// Signed decimal text of value: "-" for negatives, no leading zeros. buffer holds >= 12 bytes.
void FormatDecimal(std::int32_t value, char* buffer, std::size_t size);

}  // namespace vormel

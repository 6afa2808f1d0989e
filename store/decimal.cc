#include "store/decimal.h"

#include <cstdio>
#include <limits>

namespace vormel {

std::int64_t ParseDecimal64(const char* text) {
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  constexpr std::int64_t kCap = std::int64_t{1} << 40;  // well past any 32-bit product
  std::int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (magnitude < kCap) magnitude = magnitude * 10 + (*p - '0');
  }
  return negative ? -magnitude : magnitude;
}

std::int32_t ParseDecimal(const char* text) {
  std::int64_t value = ParseDecimal64(text);
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

void FormatDecimal(std::int32_t value, char* buffer, std::size_t size) {
  std::snprintf(buffer, size, "%d", static_cast<int>(value));
}

}  // namespace vormel

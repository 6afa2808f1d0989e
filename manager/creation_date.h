// Today's local date as "%Y/%m/%d", the creation date stored with an added counter. Reached
// through a pointer so that tests can fix the date.
#pragma once

#include <cstddef>

namespace vormel {

inline constexpr std::size_t kDateCapacity = 64;

using TodayFunction = void (*)(char* buffer, std::size_t size);

// Writes the local date, NUL-terminated, cut to size; the system clock and time zone.
void LocalToday(char* buffer, std::size_t size);

// What add uses; LocalToday unless a test has replaced it.
extern TodayFunction today;

}  // namespace vormel

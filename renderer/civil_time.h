// Calendar time for the date and clock images, and the text they show. Pure; any thread.
#pragma once

#include <ctime>

#include "renderer/params.h"

namespace vormel {

struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The wall time at a fixed offset east of UTC.
CivilTime CivilAtOffset(std::time_t now, int offsetMinutes);

// The server's local wall time; the one place the renderer asks the C library.
CivilTime LocalCivilTime(std::time_t now);

// "2024/05/17" in the given order; out holds at least 16 bytes.
void FormatDate(const CivilTime& t, DateOrder order, char* out);
// "13:05" or, on a 12-hour clock, "1:05"; out holds at least 16 bytes.
void FormatClock(const CivilTime& t, bool hours12, char* out);

}  // namespace vormel

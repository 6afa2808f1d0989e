#include "renderer/civil_time.h"

#include <cstdint>
#include <cstdio>

namespace vormel {

CivilTime CivilAtOffset(std::time_t now, int offsetMinutes) {
  std::int64_t seconds = static_cast<std::int64_t>(now) + std::int64_t{offsetMinutes} * 60;
  std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  std::int64_t rest = seconds - days * 86400;
  // Days since 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

CivilTime LocalCivilTime(std::time_t now) {
  std::tm tm{};
  if (localtime_r(&now, &tm) == nullptr) return CivilAtOffset(now, 0);
  CivilTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec;
  return t;
}

void FormatDate(const CivilTime& t, DateOrder order, char* out) {
  int year = t.year < 0 ? 0 : t.year % 10000;
  switch (order) {
    case DateOrder::kYmd:
      std::snprintf(out, 16, "%04d/%02d/%02d", year, t.month, t.day);
      break;
    case DateOrder::kMdy:
      std::snprintf(out, 16, "%02d/%02d/%04d", t.month, t.day, year);
      break;
    case DateOrder::kDmy:
      std::snprintf(out, 16, "%02d/%02d/%04d", t.day, t.month, year);
      break;
  }
}

void FormatClock(const CivilTime& t, bool hours12, char* out) {
  if (hours12) {
    int hour = t.hour % 12 == 0 ? 12 : t.hour % 12;
    std::snprintf(out, 16, "%d:%02d", hour, t.minute);
  } else {
    std::snprintf(out, 16, "%02d:%02d", t.hour, t.minute);
  }
}

}  // namespace vormel

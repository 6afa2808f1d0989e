#include "manager/creation_date.h"

#include <ctime>

namespace vormel {

void LocalToday(char* buffer, std::size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return;
  if (std::strftime(buffer, size, "%Y/%m/%d", &local) == 0) buffer[0] = '\0';
}

TodayFunction today = &LocalToday;

}  // namespace vormel

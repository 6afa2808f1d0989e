// The in-memory counters: fixed arrays whose names lie back to back in one buffer. Values are
// read and advanced atomically (value_slot.h). `lock` orders everything else: image requests,
// page walks and commit passes hold it shared; add, reset and delete hold it alone.
#pragma once

#include <cstdint>
#include <shared_mutex>

namespace vormel {

inline constexpr int kMaxCounters = 1000;
inline constexpr int kNamesCapacity = 8192;

struct CounterTable {
  char names[kNamesCapacity] = {};
  std::int32_t values[kMaxCounters] = {};
  std::int32_t committedValues[kMaxCounters] = {};
  std::int32_t nameLengths[kMaxCounters] = {};
  std::int32_t count = 0;
  mutable std::shared_mutex lock;

  // Index of the first entry whose whole name equals `name` byte for byte, or -1.
  int FindCounter(const char* name) const;
  // Bytes of `names` used by all entries, deleted ones included.
  int NamesUsed() const;
  // Appends an entry with value 0; false when the table or the names buffer is full.
  bool Append(const char* name);
  // Marks entry i deleted: a blank over its first byte, value and committed value 0.
  void MarkDeleted(int index);
};

}  // namespace vormel

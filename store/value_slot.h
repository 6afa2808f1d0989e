// Atomic access to one 32-bit counter slot of the table. The slots stay plain int32_t arrays
// (the renderer and the commit pass see the same layout); every reader and writer goes through
// these helpers so that no increment is lost between threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <limits>

namespace vormel {

inline std::int32_t LoadValue(std::int32_t& slot) {
  return std::atomic_ref<std::int32_t>(slot).load(std::memory_order_relaxed);
}

inline void StoreValue(std::int32_t& slot, std::int32_t value) {
  std::atomic_ref<std::int32_t>(slot).store(value, std::memory_order_relaxed);
}

// Adds one, saturating at the largest 32-bit value; returns the value after the advance.
inline std::int32_t AdvanceValue(std::int32_t& slot) {
  std::atomic_ref<std::int32_t> ref(slot);
  std::int32_t current = ref.load(std::memory_order_relaxed);
  while (current != std::numeric_limits<std::int32_t>::max()) {
    if (ref.compare_exchange_weak(current, current + 1, std::memory_order_relaxed)) {
      return current + 1;
    }
  }
  return current;
}

}  // namespace vormel

// An unnamed event that threads wait on with a time-out. Thread-safe; the owner destroys it
// only when no thread waits on it any more.
#pragma once

#include <cstdint>
#include <memory>

namespace vormel {

enum class WaitResult { Signaled, Timeout, Failed };

class Event {
 public:
  Event(bool manualReset, bool initiallySet);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const { return impl_ != nullptr; }
  void Set();
  WaitResult Wait(std::int32_t timeoutMs);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Suspends the calling thread.
void SleepMs(std::int32_t milliseconds);

}  // namespace vormel

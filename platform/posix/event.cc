#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event.h"

namespace vormel {

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
  bool manualReset = true;
};

Event::Event(bool manualReset, bool initiallySet) : impl_(std::make_unique<Impl>()) {
  impl_->set = initiallySet;
  impl_->manualReset = manualReset;
}

Event::~Event() = default;

void Event::Set() {
  if (!impl_) return;
  {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    impl_->set = true;
  }
  impl_->changed.notify_all();
}

WaitResult Event::Wait(std::int32_t timeoutMs) {
  if (!impl_) return WaitResult::Failed;
  std::unique_lock<std::mutex> lock(impl_->mutex);
  bool signaled = impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                          [this] { return impl_->set; });
  if (!signaled) return WaitResult::Timeout;
  if (!impl_->manualReset) impl_->set = false;
  return WaitResult::Signaled;
}

void SleepMs(std::int32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vormel

#include <windows.h>

#include <memory>

#include "platform/event.h"

namespace vormel {

struct Event::Impl {
  HANDLE handle = nullptr;
};

Event::Event(bool manualReset, bool initiallySet) {
  HANDLE handle = ::CreateEventA(nullptr, manualReset, initiallySet, nullptr);
  if (handle == nullptr) return;  // valid() reports it
  impl_ = std::make_unique<Impl>();
  impl_->handle = handle;
}

Event::~Event() {
  if (impl_) ::CloseHandle(impl_->handle);
}

void Event::Set() {
  if (impl_) ::SetEvent(impl_->handle);
}

WaitResult Event::Wait(std::int32_t timeoutMs) {
  if (!impl_) return WaitResult::Failed;
  // A negative time-out returns at once, as on the other systems; it must not become INFINITE.
  const DWORD timeout = timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs);
  switch (::WaitForSingleObject(impl_->handle, timeout)) {
    case WAIT_OBJECT_0:
      return WaitResult::Signaled;
    case WAIT_TIMEOUT:
      return WaitResult::Timeout;
    default:
      return WaitResult::Failed;
  }
}

void SleepMs(std::int32_t milliseconds) { ::Sleep(milliseconds < 0 ? 0 : milliseconds); }

}  // namespace vormel

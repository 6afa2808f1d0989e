#include <windows.h>

#include <memory>

#include "platform/thread.h"

namespace vormel {
namespace {

// The routine runs as a long thread-pool callback rather than on a thread of its own: the
// module joins it from static destruction, under the loader lock, and a thread of its own could
// not end there (ending takes that lock). The pool signals the end only after the callback has
// returned, so no code of this module runs once Join has seen it.
struct Launch {
  Thread::Routine routine = nullptr;
  void* argument = nullptr;
  HANDLE finished = nullptr;
};

void CALLBACK RunCallback(PTP_CALLBACK_INSTANCE instance, PVOID parameter) {
  const Launch* launch = static_cast<const Launch*>(parameter);
  ::CallbackMayRunLong(instance);
  ::SetEventWhenCallbackReturns(instance, launch->finished);
  launch->routine(launch->argument);
}

// At process exit the system has already ended every other thread, the pool's with them;
// their routines will never finish, so there is nothing to wait for.
bool ProcessIsExiting() {
  using ShutdownInProgressFn = BOOLEAN(NTAPI*)();
  static const auto shutdownInProgress =
      reinterpret_cast<ShutdownInProgressFn>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "RtlDllShutdownInProgress")));
  return shutdownInProgress != nullptr && shutdownInProgress() != FALSE;
}

}  // namespace

struct Thread::Impl {
  Launch launch;  // read by the callback, so it lives as long as the Thread
  bool running = false;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() {
  Join();
  if (impl_ && impl_->launch.finished != nullptr) ::CloseHandle(impl_->launch.finished);
}

bool Thread::Start(Routine routine, void* argument) {
  if (!impl_ || impl_->running) return false;
  if (impl_->launch.finished == nullptr) {
    impl_->launch.finished = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (impl_->launch.finished == nullptr) return false;
  }
  ::ResetEvent(impl_->launch.finished);
  impl_->launch.routine = routine;
  impl_->launch.argument = argument;
  impl_->running = ::TrySubmitThreadpoolCallback(&RunCallback, &impl_->launch, nullptr) != FALSE;
  return impl_->running;
}

bool Thread::Joinable() const { return impl_ && impl_->running; }

void Thread::Join() {
  if (!Joinable()) return;
  if (!ProcessIsExiting()) ::WaitForSingleObject(impl_->launch.finished, INFINITE);
  impl_->running = false;
}

}  // namespace vormel

#include <memory>
#include <system_error>
#include <thread>

#include "platform/thread.h"

namespace vormel {

struct Thread::Impl {
  std::thread thread;
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() { Join(); }

bool Thread::Start(Routine routine, void* argument) {
  if (!impl_ || impl_->thread.joinable()) return false;
  try {
    impl_->thread = std::thread(routine, argument);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool Thread::Joinable() const { return impl_ && impl_->thread.joinable(); }

void Thread::Join() {
  if (Joinable()) impl_->thread.join();
}

}  // namespace vormel

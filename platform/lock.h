// A mutual-exclusion lock (BasicLockable, so std::lock_guard works). Not recursive.
#pragma once

#include <mutex>

namespace vormel {

class Lock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

}  // namespace vormel

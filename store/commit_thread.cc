#include "store/commit_thread.h"

#include <mutex>
#include <shared_mutex>

#include "platform/log.h"
#include "platform/profile.h"
#include "store/decimal.h"
#include "store/value_slot.h"

namespace vormel {
namespace {

// One pass runs at a time (the thread's own), so its scratch space can be static.
struct PassScratch {
  ProfileChange changes[kMaxCounters];
  int indices[kMaxCounters];
  std::int32_t written[kMaxCounters];
  char texts[kMaxCounters][32];
};

}  // namespace

int CommitPass(CommitParams& params) {
  static PassScratch scratch;
  static std::mutex passMutex;
  std::lock_guard<std::mutex> onePass(passMutex);
  CounterTable& table = *params.table;

  // Shared, so images keep flowing; add, reset and delete wait, which keeps this pass's file
  // write ordered against their own writes.
  std::shared_lock<std::shared_mutex> guard(table.lock);
  int changed = 0;
  const char* cursor = table.names;
  for (int i = 0; i < table.count; ++i) {
    std::int32_t value = LoadValue(table.values[i]);
    if (value != table.committedValues[i]) {
      FormatDecimal(value, scratch.texts[changed], sizeof scratch.texts[changed]);
      scratch.changes[changed] = ProfileChange{cursor, scratch.texts[changed]};
      scratch.indices[changed] = i;
      scratch.written[changed] = value;
      ++changed;
    }
    cursor += table.nameLengths[i];
  }
  if (changed == 0) return 0;
  if (!WriteProfileStrings("counter", {scratch.changes, static_cast<std::size_t>(changed)},
                           params.settingsPath)) {
    params.failedPasses.fetch_add(1, std::memory_order_relaxed);
    LogError("could not write %d changed counter value(s) to %s; retrying next pass", changed,
             params.settingsPath);
    return -1;
  }
  // committedValues is written by this pass and by delete (which holds the lock alone).
  for (int k = 0; k < changed; ++k) {
    std::atomic_ref<std::int32_t>(table.committedValues[scratch.indices[k]])
        .store(scratch.written[k], std::memory_order_relaxed);
  }
  return changed;
}

void CommitThread(void* argument) {
  CommitParams& params = *static_cast<CommitParams*>(argument);
  for (;;) {
    WaitResult waited = params.stopEvent != nullptr
                            ? params.stopEvent->Wait(params.intervalMs.load())
                            : WaitResult::Failed;
    CommitPass(params);
    if (waited != WaitResult::Timeout) break;
  }
  params.intervalMs.store(0);
}

bool StopCommitThread(CommitParams& params) {
  if (params.stopEvent != nullptr) params.stopEvent->Set();
  for (int sleeps = 0; params.intervalMs.load() != 0; ++sleeps) {
    if (sleeps == 101) return false;
    SleepMs(100);
  }
  return true;
}

}  // namespace vormel

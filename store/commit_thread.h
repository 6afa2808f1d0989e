// The background writer that keeps section `counter` of the settings file in step with the
// table: one pass per interval and a final one at stop. Only the thread and StopCommitThread
// touch a CommitParams after start; `intervalMs` is the handshake word between them.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/event.h"
#include "store/counter_table.h"

namespace vormel {

struct CommitParams {
  CounterTable* table = nullptr;  // the pass follows the table's live count
  Event* stopEvent = nullptr;
  std::atomic<std::int32_t> intervalMs{0};
  const char* settingsPath = nullptr;
  // Passes whose file write failed; their changes are retried by the next pass.
  std::atomic<std::uint32_t> failedPasses{0};
};

// Thread routine: wait, pass, until the stop event is set or the wait fails; then one last
// pass and intervalMs = 0.
void CommitThread(void* params);

// Writes every changed value in one replacement of the file. Committed values move only for
// what reached the file. Returns the number of entries written, or -1 when the write failed.
int CommitPass(CommitParams& params);

// Sets the stop event and polls intervalMs for the final pass, at most 101 sleeps of 100 ms.
// Returns true when the thread has finished within that time.
bool StopCommitThread(CommitParams& params);

}  // namespace vormel

// The module's one server object: the settings read at load, the counter table and the commit
// machinery. Settings are read-only after construction; the table is guarded by its own lock.
// The destructor stops the commit thread after its final pass and never lets it outlive us.
#pragma once

#include <cstdint>

#include "extension/extension_server.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "store/commit_thread.h"
#include "store/counter_table.h"

namespace vormel {

inline constexpr int kPathCapacity = 260;
inline constexpr char kDefaultPassword[] = "-";

class CounterExtension : public ExtensionServer {
 public:
  CounterExtension();
  ~CounterExtension() override;

  BOOL GetExtensionVersion(HSE_VERSION_INFO* info) override;
  BOOL TerminateExtension(DWORD flags) override;
  const CommandTable* GetCommandTable() const override;

  // Handlers of the command table.
  void Counter(RequestContext& context, const char* p);
  void List(RequestContext& context, const char* pass);
  void Command(RequestContext& context, const char* type, const char* name, const char* desc,
               const char* pass);

  // Page writers shared by List and Command.
  void WriteServicePage(RequestContext& context, const char* message, const char* pass);
  void WriteAuthFailurePage(RequestContext& context);

  char settingsPath[kPathCapacity] = {};
  char password[80] = {};
  char head[2048] = {};
  char foot[2048] = {};
  char bin[32] = {};
  CounterTable table;
  std::int32_t commitIntervalMs = 1000;

  CommitParams& commitParams() { return commitParams_; }

 private:
  void LoadCounters();
  bool PasswordMatches(const char* pass) const;

  CommitParams commitParams_;
  Event stopEvent_;
  Thread commitThread_;
};

// Milliseconds for a `commit` setting: seconds * 1000, at least 1000, clamped to 32 bits.
std::int32_t CommitIntervalFromText(const char* text);

}  // namespace vormel

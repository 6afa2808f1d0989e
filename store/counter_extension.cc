#include "store/counter_extension.h"

#include <cstring>
#include <limits>

#include "platform/log.h"
#include "platform/profile.h"
#include "platform/settings_dir.h"
#include "resources/string_ids.h"
#include "store/decimal.h"
#include "store/value_slot.h"

namespace vormel {

std::int32_t CommitIntervalFromText(const char* text) {
  std::int64_t ms = ParseDecimal64(text) * 1000;
  if (ms < 1000) return 1000;
  if (ms > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  return static_cast<std::int32_t>(ms);
}

CounterExtension::CounterExtension() : ExtensionServer('&'), stopEvent_(true, false) {
  static constexpr char kFileName[] = "vormel.ini";
  std::size_t length = GetSettingsDirectory(settingsPath, sizeof settingsPath);
  if (length == 0 || length + 1 + sizeof kFileName > sizeof settingsPath) {
    LogError("settings directory unusable or too long; using ./%s", kFileName);
    length = 0;
    settingsPath[0] = '\0';
  } else {
    settingsPath[length++] = kPathSeparator;
  }
  std::memcpy(settingsPath + length, kFileName, sizeof kFileName);

  GetProfileString("global", "pass", kDefaultPassword, password, sizeof password, settingsPath);
  GetProfileString("global", "bin", "cgi-bin", bin, sizeof bin, settingsPath);
  GetProfileString("global", "head", "", head, sizeof head, settingsPath);
  GetProfileString("global", "foot", "", foot, sizeof foot, settingsPath);
  char commit[256];
  GetProfileString("global", "commit", "", commit, sizeof commit, settingsPath);
  commitIntervalMs = CommitIntervalFromText(commit);

  LoadCounters();

  commitParams_.table = &table;
  commitParams_.intervalMs.store(commitIntervalMs);
  commitParams_.settingsPath = settingsPath;
  commitParams_.stopEvent = stopEvent_.valid() ? &stopEvent_ : nullptr;
  if (!commitThread_.Start(&CommitThread, &commitParams_)) {
    commitParams_.intervalMs.store(0);
    LogError("commit thread did not start; counter values are written only at unload");
  }
}

CounterExtension::~CounterExtension() {
  if (commitThread_.Joinable()) {
    if (!StopCommitThread(commitParams_)) {
      LogError("commit thread still writing after 10.1 s; waiting for it to finish");
    }
    // The thread reads the table and the path: it must end before they go away.
    commitThread_.Join();
  } else {
    CommitPass(commitParams_);
  }
}

void CounterExtension::LoadCounters() {
  std::memset(table.values, 0, sizeof table.values);
  std::memset(table.nameLengths, 0, sizeof table.nameLengths);
  std::memset(table.names, 0, sizeof table.names);

  std::size_t listed =
      GetProfileString("counter", nullptr, "", table.names, sizeof table.names, settingsPath);
  // A full buffer may have cut the last name short; such a name is dropped below.
  const bool maybeCut = listed + 2 >= sizeof table.names;

  int i = 0;
  int offset = 0;
  bool dropped = false;
  while (offset < kNamesCapacity && table.names[offset] != '\0') {
    char* name = table.names + offset;
    const int length = static_cast<int>(std::strlen(name));
    const bool last = offset + length + 1 >= kNamesCapacity || name[length + 1] == '\0';
    char value[256];
    static constexpr char kMissing[] = "\x01";
    GetProfileString("counter", name, kMissing, value, sizeof value, settingsPath);
    const bool cutName = last && maybeCut && std::strcmp(value, kMissing) == 0;
    if (i == kMaxCounters || cutName) {
      dropped = true;
      std::memset(name, 0, static_cast<std::size_t>(kNamesCapacity - offset));
      break;
    }
    table.values[i] = std::strcmp(value, kMissing) == 0 ? 0 : ParseDecimal(value);
    table.nameLengths[i] = length + 1;
    offset += length + 1;
    ++i;
  }
  if (dropped) {
    LogError(
        "%s holds more counters than the table takes (%d entries, %d name bytes); the "
        "rest are not loaded",
        settingsPath, kMaxCounters, kNamesCapacity);
  }
  table.count = i;
  std::memcpy(table.committedValues, table.values, sizeof table.values);
}

BOOL CounterExtension::GetExtensionVersion(HSE_VERSION_INFO* info) {
  ExtensionServer::GetExtensionVersion(info);
  char description[256];
  LoadModuleString(moduleInstance, IDS_EXTENSION_DESCRIPTION, description, sizeof description);
  std::size_t length = std::strlen(description);
  if (length >= sizeof info->lpszExtensionDesc) length = sizeof info->lpszExtensionDesc - 1;
  std::memcpy(info->lpszExtensionDesc, description, length);
  info->lpszExtensionDesc[length] = '\0';
  return TRUE;
}

BOOL CounterExtension::TerminateExtension(DWORD) { return TRUE; }

bool CounterExtension::PasswordMatches(const char* pass) const {
  // Time independent of where the texts differ; only the lengths may show.
  const std::size_t a = std::strlen(pass);
  const std::size_t b = std::strlen(password);
  unsigned char difference = a == b ? 0 : 1;
  const std::size_t n = a > b ? a : b;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = i < a ? static_cast<unsigned char>(pass[i]) : 0;
    unsigned char y = i < b ? static_cast<unsigned char>(password[i]) : 0;
    difference |= static_cast<unsigned char>(x ^ y);
  }
  return difference == 0;
}

}  // namespace vormel

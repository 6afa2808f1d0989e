// The maintenance commands add, reset and delete. Each change holds the table's lock alone
// around both its table change and its settings-file writes, so a commit pass never interleaves.
// The file is written first: a change reaches the table only once the file holds it.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "manager/creation_date.h"
#include "manager/name_rules.h"
#include "platform/log.h"
#include "platform/profile.h"
#include "store/counter_extension.h"
#include "store/decimal.h"
#include "store/value_slot.h"

namespace vormel {
namespace {

constexpr char kWriteFailed[] = "Error  Could not write settings file";

}  // namespace

void CounterExtension::Command(RequestContext& context, const char* type, const char* name,
                               const char* desc, const char* pass) {
  if (!PasswordMatches(pass)) {
    WriteAuthFailurePage(context);
    return;
  }
  const bool add = std::strcmp(type, "add") == 0;
  const bool reset = std::strcmp(type, "reset") == 0;
  const bool del = std::strcmp(type, "del") == 0;
  if (!add && !reset && !del) {
    WriteServicePage(context, "Error  invalid command type", pass);
    return;
  }

  const CleanedText cleanName = CleanName(name);
  const CleanedText cleanDesc = CleanDescription(desc);
  if (cleanName.length == 0 || (cleanDesc.length == 0 && !del)) {
    WriteServicePage(context, "Error  Input Counter Name or Description", pass);
    return;
  }
  if (!IsAcceptableName(cleanName.text)) {
    WriteServicePage(context, "Error  Invalid Counter Name", pass);
    return;
  }
  if (!del && !IsAcceptableDescription(cleanDesc.text)) {
    WriteServicePage(context, "Error  Invalid Description", pass);
    return;
  }

  const char* message;
  {
    std::unique_lock<std::shared_mutex> guard(table.lock);
    const int index = table.FindCounter(cleanName.text);
    if (add) {
      if (index >= 0) {
        message = "Error  Counter Name Exist!";
      } else if (table.count >= kMaxCounters ||
                 table.NamesUsed() + static_cast<int>(cleanName.length) + 1 > kNamesCapacity) {
        message = "Error  Counter Table Full";
      } else {
        char date[kDateCapacity];
        today(date, sizeof date);
        char stored[kCleanedCapacity + 1 + kDateCapacity];
        std::snprintf(stored, sizeof stored, "%s,%s", cleanDesc.text, date);
        // The description first: a stray desc key is harmless, a counter key is an entry.
        if (!WriteProfileString("desc", cleanName.text, stored, settingsPath)) {
          message = kWriteFailed;
        } else if (!WriteProfileString("counter", cleanName.text, "0", settingsPath)) {
          WriteProfileString("desc", cleanName.text, nullptr, settingsPath);
          message = kWriteFailed;
        } else {
          table.Append(cleanName.text);
          message = "Counter Added!";
        }
      }
    } else if (index < 0) {
      message = "Error  Counter Name not found!";
    } else if (del) {
      // Once the counter key is gone the entry is gone at the next load: that is the change.
      if (!WriteProfileString("counter", cleanName.text, nullptr, settingsPath)) {
        message = kWriteFailed;
      } else {
        table.MarkDeleted(index);
        if (!WriteProfileString("desc", cleanName.text, nullptr, settingsPath)) {
          LogError("%s: the description of deleted counter %s could not be removed", settingsPath,
                   cleanName.text);
        }
        message = "Counter Deleted!";
      }
    } else {
      if (!WriteProfileString("counter", cleanName.text, cleanDesc.text, settingsPath)) {
        message = kWriteFailed;
      } else {
        StoreValue(table.values[index], ParseDecimal(cleanDesc.text));
        message = "Counter Reset!";
      }
    }
  }
  WriteServicePage(context, message, pass);
}

}  // namespace vormel

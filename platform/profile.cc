// The profile operations over the system half (profile_file.h): reading answers from the parsed
// copy, writing goes through one replacement of the file. Nothing is thrown to callers.
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ini_text.h"
#include "platform/log.h"
#include "platform/profile.h"
#include "platform/profile_file.h"

namespace vormel {

std::size_t GetProfileString(const char* section, const char* key, const char* defaultText,
                             char* buffer, std::size_t size, const char* path) {
  const std::string_view fallback = defaultText == nullptr ? "" : defaultText;
  if (size == 0 || buffer == nullptr) return 0;
  try {
    std::shared_ptr<const IniDocument> document;
    if (section != nullptr && path != nullptr) document = ReadProfileDocument(path);
    if (key != nullptr) {
      std::optional<std::string_view> value;
      if (document) value = document->Find(section, key);
      return CopyIniValue(value.value_or(fallback), buffer, size);
    }
    std::vector<std::string_view> names;
    if (document && document->HasSection(section)) {
      names = document->Keys(section);
    } else if (!fallback.empty()) {
      names.push_back(fallback);
    }
    return CopyIniKeyList(names, buffer, size);
  } catch (const std::exception&) {
    // Out of memory: answer as for a missing file rather than let it reach the C caller.
  }
  if (key != nullptr) return CopyIniValue(fallback, buffer, size);
  buffer[0] = '\0';
  if (size > 1) buffer[1] = '\0';
  return 0;
}

bool WriteProfileString(const char* section, const char* key, const char* value, const char* path) {
  const ProfileChange change{key, value};
  return WriteProfileStrings(section, std::span(&change, 1), path);
}

bool WriteProfileStrings(const char* section, std::span<const ProfileChange> changes,
                         const char* path) {
  try {
    return ReplaceProfile(section, changes, path);
  } catch (const std::exception& error) {
    LogError("settings file %s: change abandoned: %s", path == nullptr ? "(null)" : path,
             error.what());
    return false;
  }
}

}  // namespace vormel

// The settings-file parser on arbitrary text, with one set or remove of an arbitrary key: the
// text round-trips byte for byte, every listed key can be read, a set key reads back as its
// value (also after the edited text is parsed again), other keys keep their values, and every
// line the edit does not concern survives byte for byte and in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_text.h"

namespace {

// The edit of the current input, shown when a check fails.
std::string edit;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "ini_fuzz: %s after %s\n", what, edit.c_str());
    std::abort();
  }
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t newline = text.find('\n', begin);
    std::size_t end = newline == std::string::npos ? text.size() : newline + 1;
    lines.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return lines;
}

// A line kept by an edit; the old last line may have gained the line ending it lacked.
bool Kept(const std::string& before, const std::string& after, bool lastBefore) {
  if (before == after) return true;
  if (!lastBefore || before.ends_with('\n') || !after.starts_with(before)) return false;
  const std::string added = after.substr(before.size());
  return added == "\n" || added == "\r\n";
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A set rewrites at most one line in place, or inserts one key line, or appends a section
// header and its key: `after` with `inserted` lines taken out at some place matches `before`
// line for line, with at most one rewritten line when nothing was inserted.
bool SetKeepsTheRest(const std::vector<std::string>& before,
                     const std::vector<std::string>& after) {
  if (after.size() < before.size() || after.size() > before.size() + 2) return false;
  const std::size_t inserted = after.size() - before.size();
  for (std::size_t at = 0; at + inserted <= after.size(); ++at) {
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < before.size() && mismatches <= 1; ++i) {
      const std::string& other = after[i < at ? i : i + inserted];
      mismatches += !Kept(before[i], other, i + 1 == before.size());
    }
    if (mismatches == 0 || (inserted == 0 && mismatches == 1)) return true;
  }
  return false;
}

// A remove only drops lines: `after` is a subsequence of `before`.
bool IsSubsequence(const std::vector<std::string>& after, const std::vector<std::string>& before) {
  std::size_t j = 0;
  for (const std::string& line : before) {
    if (j < after.size() && after[j] == line) ++j;
  }
  return j == after.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool remove = input.ConsumeBool();
  const std::string section = input.ConsumeRandomLengthString(24);
  const std::string key = input.ConsumeRandomLengthString(24);
  const std::string value = input.ConsumeRandomLengthString(48);
  const std::string text = input.ConsumeRemainingBytesAsString();
  edit = std::string(remove ? "remove [" : "set [") + section + "] " + key + "=" + value;

  const vormel::IniDocument document = vormel::IniDocument::Parse(text);
  Check(document.Serialize() == text, "parse and serialize changed the text");
  const std::vector<std::string_view> keys = document.Keys(section);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    Check(document.Find(section, keys[i]).has_value(), "a listed key cannot be read");
    for (std::size_t j = 0; j < i; ++j) Check(keys[i] != keys[j], "a key listed twice");
  }
  if (!vormel::IsValidIniSection(section) || !vormel::IsValidIniKey(key) ||
      !vormel::IsValidIniValue(value)) {
    return 0;
  }

  vormel::IniDocument edited = document;
  const bool changed = remove ? edited.Remove(section, key) : edited.Set(section, key, value);
  const std::string after = edited.Serialize();
  Check(changed || after == text, "an edit reported as no change changed the text");
  vormel::IniDocument reread = vormel::IniDocument::Parse(after);
  for (const vormel::IniDocument* doc : {&edited, &reread}) {
    const std::optional<std::string_view> found = doc->Find(section, key);
    if (remove) {
      Check(!found.has_value(), "a removed key can still be read");
    } else {
      Check(found.has_value() && *found == Trim(value), "a set key does not read back");
    }
    for (std::string_view other : keys) {
      if (other == key) continue;
      Check(doc->Find(section, other) == document.Find(section, other),
            "an edit changed another key");
    }
  }
  const std::vector<std::string> linesBefore = Lines(text);
  const std::vector<std::string> linesAfter = Lines(after);
  if (remove) {
    Check(IsSubsequence(linesAfter, linesBefore), "remove changed a kept line");
  } else {
    Check(SetKeepsTheRest(linesBefore, linesAfter), "set changed an unrelated line");
  }
  return 0;
}

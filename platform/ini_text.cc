#include "platform/ini_text.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace vormel {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// [begin, end) of `text` without blanks at either end.
std::pair<std::size_t, std::size_t> Trim(std::string_view text, std::size_t begin,
                                         std::size_t end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return {begin, end};
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

IniDocument::Line IniDocument::ParseLine(std::string raw, std::string ending) {
  Line line;
  line.raw = std::move(raw);
  line.ending = std::move(ending);
  const std::string_view text = line.raw;
  auto [first, last] = Trim(text, 0, text.size());
  if (first == last || text[first] == ';' || text[first] == '#') return line;
  if (text[first] == '[') {
    const std::size_t close = text.find(']', first + 1);
    if (close == std::string_view::npos) return line;
    auto [nameBegin, nameEnd] = Trim(text, first + 1, close);
    line.kind = Kind::kSection;
    line.nameBegin = nameBegin;
    line.nameLength = nameEnd - nameBegin;
    return line;
  }
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return line;
  auto [keyBegin, keyEnd] = Trim(text, first, equals);
  if (keyBegin == keyEnd) return line;  // "=x" names no key
  auto [valueBegin, valueEnd] = Trim(text, equals + 1, text.size());
  line.kind = Kind::kKey;
  line.nameBegin = keyBegin;
  line.nameLength = keyEnd - keyBegin;
  line.valueBegin = valueBegin;
  line.valueLength = valueEnd - valueBegin;
  line.equals = equals;
  return line;
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument document;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t newline = text.find('\n', begin);
    if (newline == std::string_view::npos) {
      document.lines_.push_back(ParseLine(std::string(text.substr(begin)), std::string()));
      break;
    }
    std::size_t end = newline;
    if (end > begin && text[end - 1] == '\r') --end;
    document.lines_.push_back(ParseLine(std::string(text.substr(begin, end - begin)),
                                        std::string(text.substr(end, newline + 1 - end))));
    begin = newline + 1;
  }
  document.Reindex();
  return document;
}

void IniDocument::Reindex() {
  indexed_ = false;
  headers_.clear();
  keys_.clear();
  // Past 32-bit line numbers the scans still answer.
  if (lines_.size() >= UINT32_MAX) return;
  std::uint32_t header = UINT32_MAX;  // keys before the first header belong to no section
  for (std::uint32_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection) {
      headers_.push_back(i);
      header = i;
    } else if (lines_[i].kind == Kind::kKey && header != UINT32_MAX) {
      keys_.push_back({header, i});
    }
  }
  std::sort(keys_.begin(), keys_.end(), [this](const KeyRef& a, const KeyRef& b) {
    if (a.header != b.header) return a.header < b.header;
    const int order = KeyName(a.line).compare(KeyName(b.line));
    return order != 0 ? order < 0 : a.line < b.line;
  });
  indexed_ = true;
}

std::string IniDocument::Serialize() const {
  std::size_t total = 0;
  for (const Line& line : lines_) total += line.raw.size() + line.ending.size();
  std::string text;
  text.reserve(total);
  for (const Line& line : lines_) {
    text += line.raw;
    text += line.ending;
  }
  return text;
}

std::string_view IniDocument::Newline() const {
  for (const Line& line : lines_) {
    if (!line.ending.empty()) return line.ending;
  }
  return kIniDefaultNewline;
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  if (indexed_) {
    for (std::uint32_t i : headers_) {
      if (EqualsIgnoringAsciiCase(lines_[i].Name(), section)) return i;
    }
    return lines_.size();
  }
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::kSection && EqualsIgnoringAsciiCase(lines_[i].Name(), section)) {
      return i;
    }
  }
  return lines_.size();
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::kSection) ++i;
  return i;
}

std::optional<std::string_view> IniDocument::Find(std::string_view section,
                                                  std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == lines_.size()) return std::nullopt;
  if (indexed_) {
    const auto found = std::lower_bound(
        keys_.begin(), keys_.end(), key, [this, header](const KeyRef& ref, std::string_view k) {
          return ref.header != header ? ref.header < header : KeyName(ref.line) < k;
        });
    if (found == keys_.end() || found->header != header || KeyName(found->line) != key) {
      return std::nullopt;
    }
    return lines_[found->line].Value();
  }
  for (std::size_t i = header + 1; i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
    if (lines_[i].kind == Kind::kKey && lines_[i].Name() == key) return lines_[i].Value();
  }
  return std::nullopt;
}

std::vector<std::string_view> IniDocument::Keys(std::string_view section) const {
  std::vector<std::string_view> keys;
  const std::size_t header = FindSection(section);
  if (header == lines_.size()) return keys;
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = header + 1; i < lines_.size() && lines_[i].kind != Kind::kSection; ++i) {
    if (lines_[i].kind == Kind::kKey && seen.insert(lines_[i].Name()).second) {
      keys.push_back(lines_[i].Name());
    }
  }
  return keys;
}

void IniDocument::EndLastLine() {
  if (lines_.empty() || !lines_.back().ending.empty()) return;
  Line& last = lines_.back();
  // A last line ending in a bare "\r" would lose that byte to a "\n" ending on the next read;
  // "\r\n" keeps the line as it reads now.
  last.ending = !last.raw.empty() && last.raw.back() == '\r' ? "\r\n" : std::string(Newline());
}

bool IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  indexed_ = false;
  const std::string newline(Newline());
  std::string raw;
  raw.reserve(key.size() + 1 + value.size());
  raw.append(key).append("=").append(value);

  const std::size_t header = FindSection(section);
  if (header == lines_.size()) {
    EndLastLine();
    std::string sectionLine;
    sectionLine.append("[").append(section).append("]");
    lines_.reserve(lines_.size() + 2);
    lines_.push_back(ParseLine(std::move(sectionLine), newline));
    lines_.push_back(ParseLine(std::move(raw), newline));
    return true;
  }
  const std::size_t end = SectionEnd(header);
  std::size_t insertAt = header + 1;
  for (std::size_t i = header + 1; i < end; ++i) {
    Line& line = lines_[i];
    if (line.kind != Kind::kKey) continue;
    if (line.Name() == key) {
      // Keep the line up to its '=' as the administrator wrote it; only the value changes.
      std::string replaced = line.raw.substr(0, line.equals + 1);
      replaced.append(value);
      if (replaced == line.raw) return false;
      std::string ending = std::move(line.ending);
      line = ParseLine(std::move(replaced), std::move(ending));
      return true;
    }
    insertAt = i + 1;
  }
  // The new line gets an ending; the line before it needs one too if it was the file's last.
  Line added = ParseLine(std::move(raw), newline);
  if (insertAt == lines_.size()) EndLastLine();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(added));
  return true;
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  indexed_ = false;
  const std::size_t header = FindSection(section);
  if (header == lines_.size()) return false;
  const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(header + 1);
  const auto last = lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header));
  const auto kept = std::remove_if(first, last, [key](const Line& line) {
    return line.kind == Kind::kKey && line.Name() == key;
  });
  if (kept == last) return false;
  lines_.erase(kept, last);
  return true;
}

bool IsValidIniSection(std::string_view section) {
  if (section.empty() || HasLineBreak(section)) return false;
  if (section.find(']') != std::string_view::npos) return false;
  return !IsBlank(section.front()) && !IsBlank(section.back());
}

bool IsValidIniKey(std::string_view key) {
  if (key.empty() || HasLineBreak(key)) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (IsBlank(key.front()) || IsBlank(key.back())) return false;
  return key.front() != ';' && key.front() != '#' && key.front() != '[';
}

bool IsValidIniValue(std::string_view value) { return !HasLineBreak(value); }

std::size_t CopyIniValue(std::string_view value, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t copied = std::min(value.size(), size - 1);
  if (copied != 0) std::memcpy(buffer, value.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

std::size_t CopyIniKeyList(std::span<const std::string_view> names, char* buffer,
                           std::size_t size) {
  if (size == 0) return 0;
  if (size == 1 || names.empty()) {
    buffer[0] = '\0';
    if (size > 1) buffer[1] = '\0';
    return 0;
  }
  std::size_t listBytes = 0;  // every name with its NUL
  for (std::string_view name : names) listBytes += name.size() + 1;
  // A whole list needs one more byte for the closing NUL; a cut one keeps two for its NULs.
  const std::size_t room = listBytes + 1 <= size ? listBytes : size - 2;
  std::size_t placed = 0;
  for (std::string_view name : names) {
    if (placed == room) break;
    const std::size_t part = std::min(name.size(), room - placed);
    std::memcpy(buffer + placed, name.data(), part);
    placed += part;
    if (placed == room) break;
    buffer[placed++] = '\0';
  }
  buffer[placed] = '\0';
  if (placed < listBytes) buffer[placed + 1] = '\0';
  return placed;
}

}  // namespace vormel

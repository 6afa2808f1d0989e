// The text side of the settings file: parses INI text into lines, answers lookups and applies
// edits that leave every other line byte for byte in place. Plain values without shared state;
// const members may be called from several threads at once. Only std::bad_alloc is thrown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vormel {

// Line ending written on lines this module adds to a file that has none yet (new files). The
// same on every build, so a file looks the same whichever system wrote it.
inline constexpr std::string_view kIniDefaultNewline = "\r\n";

class IniDocument {
 public:
  // Splits at "\n"; a "\r" before it belongs to the line ending. Never fails.
  static IniDocument Parse(std::string_view text);

  // The exact bytes: Serialize(Parse(t)) == t for every t.
  std::string Serialize() const;

  // Value of the first line naming `key` (exactly) in the first section named `section` (ASCII
  // case ignored), blanks around it removed. The view lives as long as the document is unchanged.
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  bool HasSection(std::string_view section) const { return FindSection(section) < lines_.size(); }

  // Key names of the first matching section in file order; a key standing twice is listed once,
  // since only its first line is ever read. Empty when the section is missing.
  std::vector<std::string_view> Keys(std::string_view section) const;

  // Sets the key: rewrites the value of its first line in the section, else adds "key=value"
  // after the section's last key, else adds the section at the end. Returns whether the text
  // changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // Removes every line of the key in the first matching section (a later duplicate would
  // otherwise become the value). Returns whether the text changed.
  bool Remove(std::string_view section, std::string_view key);

  // The line ending of the text's first line that has one, else kIniDefaultNewline.
  std::string_view Newline() const;

  // Rebuilds the lookup index that Parse builds and Set and Remove drop; until then lookups scan
  // the lines. Call it once after a batch of edits on a document that will be read a lot.
  void Reindex();

 private:
  enum class Kind : unsigned char { kOther, kSection, kKey };
  struct Line {
    std::string raw;     // the line's bytes without its ending
    std::string ending;  // "\r\n", "\n", or "" on a last line without one
    Kind kind = Kind::kOther;
    std::size_t nameBegin = 0;  // section name or key inside raw, blanks trimmed
    std::size_t nameLength = 0;
    std::size_t valueBegin = 0;  // key lines: the value inside raw, blanks trimmed
    std::size_t valueLength = 0;
    std::size_t equals = 0;  // key lines: position of the first '='

    std::string_view Name() const { return std::string_view(raw).substr(nameBegin, nameLength); }
    std::string_view Value() const { return std::string_view(raw).substr(valueBegin, valueLength); }
  };

  static Line ParseLine(std::string raw, std::string ending);
  // Index of the first matching header, or lines_.size().
  std::size_t FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  void EndLastLine();
  std::string_view KeyName(std::uint32_t line) const { return lines_[line].Name(); }

  std::vector<Line> lines_;
  // Valid while indexed_: the section header lines in file order, and every key line as
  // (its header, its line) sorted by header, name, then line, so the first of a name comes first.
  struct KeyRef {
    std::uint32_t header;
    std::uint32_t line;
  };
  std::vector<std::uint32_t> headers_;
  std::vector<KeyRef> keys_;
  bool indexed_ = false;
};

// Names accepted for writing: anything that reads back as the same name and cannot split or
// start a line. Values must not contain a line break.
bool IsValidIniSection(std::string_view section);
bool IsValidIniKey(std::string_view key);
bool IsValidIniValue(std::string_view value);

// Copies `value` cut to size - 1 bytes and a NUL; returns the bytes copied before the NUL.
// size 0 writes nothing.
std::size_t CopyIniValue(std::string_view value, char* buffer, std::size_t size);

// Copies the names each followed by NUL and one more NUL after the last. When that does not fit,
// the list is cut to size - 2 bytes and ended by two NULs. An empty list is two NULs (one when
// size is 1). Returns the list bytes placed before the closing NULs: size - 2 when cut.
std::size_t CopyIniKeyList(std::span<const std::string_view> names, char* buffer, std::size_t size);

}  // namespace vormel

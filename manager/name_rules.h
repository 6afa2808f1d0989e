// The rules for what the maintenance form may type: the clean-ups of name and description
// (blanks and Shift-JIS ideographic spaces dropped, 64-byte cut) and the bytes that are refused
// because they mean something in the settings file or in an image URL. Pure functions.
#pragma once

#include <cstddef>

namespace vormel {

inline constexpr std::size_t kCleanedCapacity = 64;

// A cleaned text: at most 64 bytes and its NUL.
struct CleanedText {
  char text[kCleanedCapacity + 1] = {};
  std::size_t length = 0;
};

// Drops every blank and every 0x81 0x40 pair; keeps at most the first 64 other bytes.
CleanedText CleanName(const char* name);
// Drops blanks before the first kept byte and every 0x81 0x40 pair; keeps at most 64 bytes.
CleanedText CleanDescription(const char* desc);

// False when a (cleaned) name holds a control byte or one of = [ ] ; , & % + ? # " ' < >.
bool IsAcceptableName(const char* name);
// False when a description holds a control byte (a line break would add keys to the file).
bool IsAcceptableDescription(const char* desc);

// Whether a head, foot or counter name is used: its first byte is above the blank. An empty
// text, a deleted entry (leading blank) and a leading control byte fail.
bool PassesFirstByteTest(const char* text);

}  // namespace vormel

// INI profile operations on the settings file. Section names match without regard to case,
// keys exactly. Every change replaces the file atomically (temporary file, flush, rename), and
// writers in the process are serialized. Reads use a parsed copy that is refreshed when the
// file changes on disk. All functions are thread-safe.
#pragma once

#include <cstddef>
#include <span>

#if defined(_WIN32)
// <windows.h> maps these names onto the system's own INI calls; this layer keeps them.
#include <windows.h>
#undef GetProfileString
#undef WriteProfileString
#endif

namespace vormel {

// With a key: copies its value (cut to size - 1 bytes, NUL-terminated) or defaultText when the
// file, section or key is missing. Without a key (key == nullptr): copies the section's key
// names in file order, each followed by NUL, with one more NUL after the last, cut to the
// buffer and still double-NUL ended. Returns the number of bytes copied, not counting the
// final NUL.
std::size_t GetProfileString(const char* section, const char* key, const char* defaultText,
                             char* buffer, std::size_t size, const char* path);

// Sets the key (adding it, the section and the file where missing) or, with value == nullptr,
// removes it. Returns false when the file could not be replaced; the old file then stands.
bool WriteProfileString(const char* section, const char* key, const char* value, const char* path);

struct ProfileChange {
  const char* key;
  const char* value;  // nullptr removes the key
};

// Applies every change to one section as a single atomic replacement of the file; the result is
// the file that one WriteProfileString per change, in order, would give.
bool WriteProfileStrings(const char* section, std::span<const ProfileChange> changes,
                         const char* path);

}  // namespace vormel

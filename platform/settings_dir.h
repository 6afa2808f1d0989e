// Where the settings file lives: the directory named by VORMEL_HOME, else the system's own
// place for it (the current directory on Linux). Written without a trailing separator.
#pragma once

#include <cstddef>

namespace vormel {

// Fills buffer (NUL-terminated, cut to size) and returns the length, or 0 on failure.
std::size_t GetSettingsDirectory(char* buffer, std::size_t size);

// The separator that joins the directory and the file name.
inline constexpr char kPathSeparator =
#if defined(_WIN32)
    '\\';
#else
    '/';
#endif

}  // namespace vormel

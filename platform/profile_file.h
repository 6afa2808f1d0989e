// The system half of the profile layer: the parsed copy of a settings file, refreshed when the
// file changes on disk, and the atomic replacement of the file. Thread-safe; may throw
// std::bad_alloc, which profile.cc turns into a failure.
#pragma once

#include <memory>
#include <span>

#include "platform/ini_text.h"
#include "platform/profile.h"

namespace vormel {

// The parsed file, or null when it is missing or cannot be read.
std::shared_ptr<const IniDocument> ReadProfileDocument(const char* path);

// Applies the changes to one section as one replacement of the file; false when it failed (the
// old file then stands).
bool ReplaceProfile(const char* section, std::span<const ProfileChange> changes, const char* path);

}  // namespace vormel

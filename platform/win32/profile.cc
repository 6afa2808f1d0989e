#include "platform/profile_file.h"

#include <windows.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/ini_text.h"
#include "platform/log.h"

namespace vormel {
namespace {

// What identifies one version of the file on disk. Our own writes always give a new file
// index; a hand edit in place changes the write time or the size.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  DWORD sizeHigh = 0;
  DWORD sizeLow = 0;
  DWORD writtenHigh = 0;
  DWORD writtenLow = 0;

  static FileIdentity Of(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity id;
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    id.sizeHigh = info.nFileSizeHigh;
    id.sizeLow = info.nFileSizeLow;
    id.writtenHigh = info.ftLastWriteTime.dwHighDateTime;
    id.writtenLow = info.ftLastWriteTime.dwLowDateTime;
    return id;
  }
  bool operator==(const FileIdentity&) const = default;
};

struct CachedFile {
  FileIdentity identity;
  std::shared_ptr<const IniDocument> document;
};

// Built on first use: the module reads its settings from static construction, before this
// file's own statics would be guaranteed to exist, and its last write comes from static
// destruction, which runs after this object's (it finished constructing first).
struct ProfileState {
  std::mutex cacheMutex;  // guards cache only; documents in it are immutable
  std::unordered_map<std::string, CachedFile> cache;
  std::mutex writeMutex;  // one replacement of any file at a time
  // Shared while a reader holds a settings file open, exclusive for the replacement: Windows
  // refuses to rename over a file that is open.
  std::shared_mutex openMutex;
  std::atomic<unsigned long> tempSequence{0};
};

ProfileState& State() {
  static ProfileState state;
  return state;
}

// Closes the handle when the scope ends.
struct FileHandle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  explicit FileHandle(HANDLE h) : handle(h) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle != INVALID_HANDLE_VALUE; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = ::CloseHandle(handle) != 0;
    handle = INVALID_HANDLE_VALUE;
    return closed;
  }
};

enum class LoadStatus { kLoaded, kMissing, kFailed };

struct Loaded {
  LoadStatus status = LoadStatus::kFailed;
  std::shared_ptr<const IniDocument> document;  // set when kLoaded
};

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

HANDLE OpenForReading(const std::string& path) {
  return ::CreateFileA(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadAll(HANDLE file, std::string& text) {
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(file, chunk, sizeof chunk, &got, nullptr)) return false;
    if (got == 0) return true;
    text.append(chunk, got);
  }
}

// The parsed file, from the cache when its identity on disk is unchanged. One open and one
// information query per call when nothing changed.
Loaded Load(const std::string& path) {
  Loaded result;
  ProfileState& state = State();
  std::shared_lock open(state.openMutex);
  // A file edited while we read it is read again, so the cache never pairs new bytes with an
  // old identity.
  for (int attempt = 0; attempt < 5; ++attempt) {
    FileHandle file(OpenForReading(path));
    if (!file.valid()) {
      result.status = IsMissing(::GetLastError()) ? LoadStatus::kMissing : LoadStatus::kFailed;
      return result;
    }
    BY_HANDLE_FILE_INFORMATION before;
    if (!::GetFileInformationByHandle(file.handle, &before) ||
        (before.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return result;
    }
    {
      std::lock_guard lock(state.cacheMutex);
      auto found = state.cache.find(path);
      if (found != state.cache.end() && found->second.identity == FileIdentity::Of(before)) {
        result.status = LoadStatus::kLoaded;
        result.document = found->second.document;
        return result;
      }
    }
    std::string text;
    BY_HANDLE_FILE_INFORMATION after;
    if (!ReadAll(file.handle, text) || !::GetFileInformationByHandle(file.handle, &after)) {
      return result;
    }
    const FileIdentity identity = FileIdentity::Of(after);
    if (!(FileIdentity::Of(before) == identity)) continue;
    auto document = std::make_shared<const IniDocument>(IniDocument::Parse(text));
    {
      std::lock_guard lock(state.cacheMutex);
      state.cache[path] = CachedFile{identity, document};
    }
    result.status = LoadStatus::kLoaded;
    result.document = std::move(document);
    return result;
  }
  return result;
}

bool WriteAll(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(text.size());
    DWORD put = 0;
    if (!::WriteFile(file, text.data(), chunk, &put, nullptr)) return false;
    text.remove_prefix(put);
  }
  return true;
}

// Puts `temp` in the place of `path`. An existing file is replaced with the system's
// file-replace call, which keeps its attributes and access rights as the Linux build keeps the
// mode; a new file is moved into place. Another process holding the file open for a moment
// (a virus scanner, an editor) is waited out briefly.
bool MoveIntoPlace(const std::string& temp, const std::string& path, bool existed, DWORD& error) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (existed && ::ReplaceFileA(path.c_str(), temp.c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      return true;
    }
    error = existed ? ::GetLastError() : ERROR_SUCCESS;
    // ReplaceFile refuses some files it could still rename over (another file system, a file
    // that vanished since it was read); a plain replacing move is atomic as well.
    if (::MoveFileExA(temp.c_str(), path.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    error = ::GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED &&
        error != ERROR_LOCK_VIOLATION) {
      return false;
    }
    ::Sleep(20);
  }
  return false;
}

// Writes a temporary file beside `path`, flushes it and moves it over `path`, so a crash
// leaves the old file or the new one. On failure the temporary is gone and `path` untouched.
bool ReplaceContents(const std::string& path, std::string_view text, bool existed) {
  ProfileState& state = State();
  const std::string temp = path + "." + std::to_string(::GetCurrentProcessId()) + "." +
                           std::to_string(state.tempSequence.fetch_add(1)) + ".tmp";
  FileHandle file(::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    LogError("settings file %s: cannot create %s: error %lu", path.c_str(), temp.c_str(),
             ::GetLastError());
    return false;
  }
  const char* failed = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (!WriteAll(file.handle, text)) {
    failed = "write";
  } else if (!::FlushFileBuffers(file.handle)) {
    failed = "flush";
  }
  if (failed != nullptr) error = ::GetLastError();
  if (!file.Close() && failed == nullptr) {
    failed = "close";
    error = ::GetLastError();
  }
  if (failed == nullptr) {
    std::unique_lock open(state.openMutex);
    if (!MoveIntoPlace(temp, path, existed, error)) failed = "replace";
  }
  if (failed != nullptr) {
    ::DeleteFileA(temp.c_str());
    LogError("settings file %s: cannot %s it: error %lu", path.c_str(), failed, error);
    return false;
  }
  return true;
}

bool ValidChanges(const char* section, std::span<const ProfileChange> changes) {
  if (section == nullptr || !IsValidIniSection(section)) return false;
  for (const ProfileChange& change : changes) {
    if (change.key == nullptr || !IsValidIniKey(change.key)) return false;
    if (change.value != nullptr && !IsValidIniValue(change.value)) return false;
  }
  return true;
}

bool ApplyChanges(const char* section, std::span<const ProfileChange> changes, const char* path) {
  if (path == nullptr || !ValidChanges(section, changes)) {
    LogError("settings file: refused a change to section %s that would not read back",
             section == nullptr ? "(null)" : section);
    return false;
  }
  const std::string file(path);
  ProfileState& state = State();
  std::lock_guard writer(state.writeMutex);
  const Loaded loaded = Load(file);
  // A file that exists but cannot be read must not be replaced by one built from nothing.
  if (loaded.status == LoadStatus::kFailed) {
    LogError("settings file %s: cannot read it before a change", path);
    return false;
  }
  IniDocument document = loaded.status == LoadStatus::kLoaded ? *loaded.document : IniDocument();
  bool changed = false;
  for (const ProfileChange& change : changes) {
    changed |= change.value != nullptr ? document.Set(section, change.key, change.value)
                                       : document.Remove(section, change.key);
  }
  if (!changed) return true;
  if (!ReplaceContents(file, document.Serialize(), loaded.status == LoadStatus::kLoaded)) {
    return false;
  }
  // Our own result goes straight into the cache; the next read then only needs its query.
  FileHandle written(OpenForReading(file));
  BY_HANDLE_FILE_INFORMATION info;
  if (written.valid() && ::GetFileInformationByHandle(written.handle, &info)) {
    document.Reindex();
    auto parsed = std::make_shared<const IniDocument>(std::move(document));
    std::lock_guard lock(state.cacheMutex);
    state.cache[file] = CachedFile{FileIdentity::Of(info), std::move(parsed)};
  }
  return true;
}

}  // namespace

std::shared_ptr<const IniDocument> ReadProfileDocument(const char* path) {
  Loaded loaded = Load(path);
  if (loaded.status != LoadStatus::kLoaded) return nullptr;
  return loaded.document;
}

bool ReplaceProfile(const char* section, std::span<const ProfileChange> changes, const char* path) {
  return ApplyChanges(section, changes, path);
}

}  // namespace vormel

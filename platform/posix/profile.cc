#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/ini_text.h"
#include "platform/log.h"

namespace vormel {
namespace {

// What identifies one version of the file on disk. Our own writes always give a new inode;
// a hand edit in place changes the modification or change time, or the size.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modifiedNs = 0;
  long long changedNs = 0;
  mode_t mode = 0;

  static FileIdentity Of(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    id.changedNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    id.mode = st.st_mode;
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
  std::atomic<unsigned long> tempSequence{0};
};

ProfileState& State() {
  static ProfileState state;
  return state;
}

enum class LoadStatus { kLoaded, kMissing, kFailed };

struct Loaded {
  LoadStatus status = LoadStatus::kFailed;
  std::shared_ptr<const IniDocument> document;  // set when kLoaded
  mode_t mode = 0;
};

bool ReadAll(int fd, std::string& text) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.append(chunk, static_cast<std::size_t>(got));
  }
}

// The parsed file, from the cache when its identity on disk is unchanged. One stat per call
// when nothing changed.
Loaded Load(const std::string& path) {
  Loaded result;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    result.status =
        (errno == ENOENT || errno == ENOTDIR) ? LoadStatus::kMissing : LoadStatus::kFailed;
    return result;
  }
  ProfileState& state = State();
  {
    std::lock_guard lock(state.cacheMutex);
    auto found = state.cache.find(path);
    if (found != state.cache.end() && found->second.identity == FileIdentity::Of(st)) {
      result.status = LoadStatus::kLoaded;
      result.document = found->second.document;
      result.mode = st.st_mode;
      return result;
    }
  }
  // A file edited while we read it is read again, so the cache never pairs new bytes with an
  // old identity.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      result.status = errno == ENOENT ? LoadStatus::kMissing : LoadStatus::kFailed;
      return result;
    }
    struct stat before;
    struct stat after;
    std::string text;
    const bool read = fstat(fd, &before) == 0 && S_ISREG(before.st_mode) && ReadAll(fd, text) &&
                      fstat(fd, &after) == 0;
    close(fd);
    if (!read) return result;
    const FileIdentity identity = FileIdentity::Of(after);
    if (!(FileIdentity::Of(before) == identity)) continue;
    auto document = std::make_shared<const IniDocument>(IniDocument::Parse(text));
    {
      std::lock_guard lock(state.cacheMutex);
      state.cache[path] = CachedFile{identity, document};
    }
    result.status = LoadStatus::kLoaded;
    result.document = std::move(document);
    result.mode = after.st_mode;
    return result;
  }
  return result;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = write(fd, text.data(), text.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Writes a temporary file beside `path`, flushes it and renames it over `path`, so a crash
// leaves the old file or the new one. On failure the temporary is gone and `path` untouched.
bool ReplaceFile(const std::string& path, std::string_view text, mode_t mode, bool keepMode) {
  ProfileState& state = State();
  const std::string temp = path + "." + std::to_string(getpid()) + "." +
                           std::to_string(state.tempSequence.fetch_add(1)) + ".tmp";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    LogError("settings file %s: cannot create %s: %s", path.c_str(), temp.c_str(),
             std::strerror(errno));
    return false;
  }
  const char* failed = nullptr;
  if (keepMode && fchmod(fd, mode & 07777) != 0) {
    failed = "set the mode of";
  } else if (!WriteAll(fd, text)) {
    failed = "write";
  } else if (fsync(fd) != 0) {
    failed = "flush";
  }
  int error = errno;
  if (close(fd) != 0 && failed == nullptr) {
    failed = "close";
    error = errno;
  }
  if (failed == nullptr && rename(temp.c_str(), path.c_str()) != 0) {
    failed = "rename over";
    error = errno;
  }
  if (failed != nullptr) {
    unlink(temp.c_str());
    LogError("settings file %s: cannot %s it: %s", path.c_str(), failed, std::strerror(error));
    return false;
  }
  // The rename is only durable once the directory is; the new file already stands, though.
  const int dir = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || fsync(dir) != 0) {
    LogError("settings file %s: cannot flush its directory: %s", path.c_str(),
             std::strerror(errno));
  }
  if (dir >= 0) close(dir);
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
  if (!ReplaceFile(file, document.Serialize(), loaded.mode, loaded.status == LoadStatus::kLoaded)) {
    return false;
  }
  // Our own result goes straight into the cache; the next read then only needs its stat.
  struct stat st;
  if (stat(path, &st) == 0) {
    document.Reindex();
    auto parsed = std::make_shared<const IniDocument>(std::move(document));
    std::lock_guard lock(state.cacheMutex);
    state.cache[file] = CachedFile{FileIdentity::Of(st), std::move(parsed)};
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

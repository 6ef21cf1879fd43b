// SPDX-License-Identifier: Apache-2.0
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

// A path as a failure text shows it: a NUL character, which the system
// never sees, is shown as "\0".
std::string PathText(std::string_view path) {
  std::string text;
  text.reserve(path.size());
  for (char c : path) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return text;
}

[[noreturn]] void ThrowErrno(std::string_view path) {
  throw FailureFromErrno(errno, PathText(path));
}

// Splits a search pattern into the directory to open and the name pattern.
struct SearchPattern {
  std::string directory;  // "" means the current directory
  std::string name;
};

SearchPattern SplitPattern(std::string_view pattern) {
  SearchPattern split;
  size_t slash = pattern.rfind('/');
  if (slash == std::string_view::npos) {
    split.name = PathText(pattern);
  } else {
    split.directory = PathText(pattern.substr(0, slash + 1));
    split.name = PathText(pattern.substr(slash + 1));
  }
  // A trailing separator lists the directory's contents; "*.*" matches every
  // name, dotted or not, as find-first does.
  if (split.name.empty() || split.name == "*.*") split.name = "*";
  return split;
}

// Read-only as the components know it: the owner's write bit is clear.
bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

// Only `*` and `?` are wildcards; `[`, `]` and `\` match themselves, so they
// are escaped before fnmatch sees them.
bool NameMatches(const std::string& pattern, const char* name) {
  if (pattern == "*") return true;  // a whole listing: every name
  std::string literal;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') literal += '\\';
    literal += c;
  }
  return fnmatch(literal.c_str(), name, 0) == 0;
}

uint32_t AttributesOf(const std::string& name, const struct statx& st) {
  uint32_t attributes = 0;
  bool directory = S_ISDIR(st.stx_mode);
  bool regular = S_ISREG(st.stx_mode);
  if (directory) attributes |= kDirectory;
  if (regular) attributes |= kArchive;
  if (!directory && !regular) attributes |= kSystem;
  if (IsReadOnlyMode(st.stx_mode)) attributes |= kReadOnly;
  bool dot_entry = name == "." || name == "..";
  if (!dot_entry && !name.empty() && name[0] == '.') attributes |= kHidden;
  return attributes;
}

int64_t FileTime(const struct statx_timestamp& t) {
  return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

// The state of `path`, relative to the open directory `directory_fd` (or
// the current directory), following a final link.
bool StatPath(const std::string& path, struct statx& st,
              int directory_fd = AT_FDCWD) {
  return statx(directory_fd, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME,
               &st) == 0;
}

FileInfo InfoFromStat(std::string name, const struct statx& st) {
  FileInfo info;
  info.attributes = AttributesOf(name, st);
  info.name = std::move(name);
  info.size = S_ISDIR(st.stx_mode) ? 0 : st.stx_size;
  bool has_birth = (st.stx_mask & STATX_BTIME) != 0 && st.stx_btime.tv_sec;
  info.creation_time = FileTime(has_birth ? st.stx_btime : st.stx_ctime);
  info.last_access_time = FileTime(st.stx_atime);
  info.last_write_time = FileTime(st.stx_mtime);
  return info;
}

std::string LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return PathText(slash == std::string_view::npos || path.size() == 1
                      ? path
                      : path.substr(slash + 1));
}

class PosixReader : public FileReader {
 public:
  explicit PosixReader(int fd) : fd_(fd) {}
  ~PosixReader() override { ::close(fd_); }
  size_t Read(char* buffer, size_t count) override {
    ssize_t got = RetryOnInterrupt([&] { return ::read(fd_, buffer, count); });
    if (got < 0) throw FailureFromErrno(errno);
    return static_cast<size_t>(got);
  }
  void Seek(uint64_t offset) override {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
      throw FailureFromErrno(errno);
    }
  }

 private:
  int fd_;
};

void LinkUnnamedFile(int fd, const std::string& path);
std::string DirectoryPart(std::string_view path);

class PosixWriter : public FileWriter {
 public:
  PosixWriter(int fd, std::string path, bool unnamed = false)
      : fd_(fd), path_(std::move(path)), unnamed_(unnamed) {}
  ~PosixWriter() override {
    if (fd_ >= 0) ::close(fd_);
  }
  void Write(std::string_view data) override {
    while (!data.empty()) {
      ssize_t put = RetryOnInterrupt(
          [&] { return ::write(fd_, data.data(), data.size()); });
      if (put < 0) ThrowErrno(path_);
      data.remove_prefix(static_cast<size_t>(put));
    }
  }
  void Close() override {
    // A file without a name stays open until LinkAs names it: closed, it
    // would be gone.
    if (unnamed_) return;
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) ThrowErrno(path_);
  }
  void LinkAs(std::string_view path) override {
    if (!unnamed_ || fd_ < 0) FileWriter::LinkAs(path);
    LinkUnnamedFile(fd_, SystemPath(path));
    unnamed_ = false;
    Close();
  }

 private:
  int fd_;
  std::string path_;
  bool unnamed_;
};

int OpenForReading(std::string_view path) {
  int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowErrno(path);
  return fd;
}

FileSystem* current_file_system = nullptr;
thread_local FileSystem* thread_file_system = nullptr;

}  // namespace

void FileWriter::LinkAs(std::string_view) {
  throw StandardFailure(kInvalidCall);
}

int64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  return (seconds + kSecondsFrom1601To1970) * 10000000LL + nanoseconds / 100;
}

std::string SystemPath(std::string_view path) {
  // The system reads a path up to its first NUL: a path holding one would
  // name a shorter path than the caller gave.
  if (path.find('\0') != std::string_view::npos) {
    Failure failure = StandardFailure(kBadFileName);
    failure.description += ": " + PathText(path);
    throw failure;
  }
  // A level or a path longer than the system takes is refused here, so
  // that a search, which passes over names it cannot open, reports it too.
  bool too_long = path.size() >= PATH_MAX;
  for (size_t start = 0; !too_long && start < path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    too_long = end - start > NAME_MAX;
    start = end + 1;
  }
  if (too_long) throw FailureFromErrno(ENAMETOOLONG, PathText(path));
  return std::string(path);
}

std::vector<FileInfo> PosixFileSystem::Find(std::string_view pattern) {
  // An empty path names nothing (not the current directory).
  if (pattern.empty()) return {};
  SystemPath(pattern);
  SearchPattern split = SplitPattern(pattern);
  std::string directory = split.directory.empty() ? "./" : split.directory;
  std::vector<FileInfo> found;
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return found;
  // Each entry is looked up in the open directory: no walk of the whole
  // path per entry.
  int directory_fd = ::dirfd(dir);
  auto add = [&](const char* name) {
    struct statx st;
    if (NameMatches(split.name, name) && StatPath(name, st, directory_fd)) {
      found.push_back(InfoFromStat(name, st));
    }
  };
  add(".");
  add("..");
  while (struct dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 ||
        std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    add(entry->d_name);
  }
  ::closedir(dir);
  return found;
}

std::optional<FileInfo> PosixFileSystem::Stat(std::string_view path) {
  struct statx st;
  if (path.empty()) return std::nullopt;
  if (!StatPath(SystemPath(path), st)) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(path);
  }
  return InfoFromStat(LastComponent(path), st);
}

std::string PosixFileSystem::ReadFile(std::string_view path) {
  int fd = OpenForReading(path);
  PosixReader reader(fd);
  std::string content;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    content.reserve(static_cast<size_t>(st.st_size));
  }
  char buffer[65536];
  while (size_t got = reader.Read(buffer, sizeof buffer)) {
    content.append(buffer, got);
  }
  return content;
}

std::unique_ptr<FileReader> PosixFileSystem::OpenReader(std::string_view path) {
  return std::make_unique<PosixReader>(OpenForReading(path));
}

std::unique_ptr<FileWriter> PosixFileSystem::OpenWriter(std::string_view path,
                                                        WriteMode mode) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  switch (mode) {
    case WriteMode::kCreate:
      flags |= O_TRUNC;
      break;
    case WriteMode::kCreateNew:
      flags |= O_EXCL;
      break;
    case WriteMode::kAppend:
      flags |= O_APPEND;
      break;
    case WriteMode::kUnnamed: {
      std::string directory = DirectoryPart(SystemPath(path));
      int fd = ::open(directory.empty() ? "." : directory.c_str(),
                      O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
      if (fd < 0 &&
          (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        throw FailureFromErrno(EOPNOTSUPP, PathText(path));
      }
      if (fd < 0) ThrowErrno(path);
      return std::make_unique<PosixWriter>(fd, PathText(path), true);
    }
  }
  int fd = ::open(SystemPath(path).c_str(), flags, 0666);
  if (fd < 0) ThrowErrno(path);
  return std::make_unique<PosixWriter>(fd, PathText(path));
}

void PosixFileSystem::Rename(std::string_view from, std::string_view to) {
  if (::rename(SystemPath(from).c_str(), SystemPath(to).c_str()) != 0) {
    ThrowErrno(from);
  }
}

void PosixFileSystem::Remove(std::string_view path) {
  if (::unlink(SystemPath(path).c_str()) != 0) ThrowErrno(path);
}

void PosixFileSystem::CreateDirectory(std::string_view path) {
  if (::mkdir(SystemPath(path).c_str(), 0777) != 0) ThrowErrno(path);
}

void PosixFileSystem::RemoveDirectory(std::string_view path) {
  if (::rmdir(SystemPath(path).c_str()) != 0) ThrowErrno(path);
}

void PosixFileSystem::SetAttributes(std::string_view path,
                                    uint32_t attributes) {
  // Bits the path already has (directory, hidden, system) may be given
  // back as they were read; only read-only can change.
  std::optional<FileInfo> current = Stat(path);
  if (!current) throw FailureFromErrno(ENOENT, PathText(path));
  uint32_t settable = kReadOnly | kArchive |
                      (current->attributes & (kDirectory | kHidden | kSystem));
  if ((attributes & ~settable) != 0) throw StandardFailure(kInvalidCall);
  struct stat st;
  std::string name = SystemPath(path);
  if (::stat(name.c_str(), &st) != 0) ThrowErrno(path);
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                  : (mode | S_IWUSR);
  if (::chmod(name.c_str(), mode) != 0) ThrowErrno(path);
}

uint64_t PosixFileSystem::FreeSpace(std::string_view path) {
  struct statvfs vfs;
  if (::statvfs(SystemPath(path).c_str(), &vfs) != 0) ThrowErrno(path);
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string PosixFileSystem::TemporaryName(std::string_view directory,
                                           std::string_view prefix) {
  static std::atomic<uint64_t> counter{0};
  std::string base(directory);
  if (!base.empty() && base.back() != '/') base += '/';
  // Only a name that is taken is worth another try; a directory that is
  // missing, unreadable or a file, or a name too long, fails every name.
  constexpr int kAttempts = 100;
  std::string name;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%d.%llu.tmp",
                  static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(++counter));
    name = base + std::string(prefix) + suffix;
    struct stat st;
    if (::lstat(SystemPath(name).c_str(), &st) == 0) continue;
    if (errno == ENOENT) return name;
    ThrowErrno(name);
  }
  throw FailureFromErrno(EEXIST, PathText(name));
}

FileSystem& Files() {
  static PosixFileSystem posix;
  if (thread_file_system != nullptr) return *thread_file_system;
  return current_file_system ? *current_file_system : posix;
}

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement)
    : previous_(current_file_system) {
  current_file_system = &replacement;
}

ScopedFileSystem::~ScopedFileSystem() { current_file_system = previous_; }

ScopedThreadFileSystem::ScopedThreadFileSystem(FileSystem& replacement)
    : previous_(thread_file_system) {
  thread_file_system = &replacement;
}

ScopedThreadFileSystem::~ScopedThreadFileSystem() {
  thread_file_system = previous_;
}

namespace {
bool AnyMatch(std::string_view pattern, uint32_t excluded) {
  for (const FileInfo& entry : Files().Find(pattern)) {
    if ((entry.attributes & excluded) == 0) return true;
  }
  return false;
}
}  // namespace

bool FileMatchExists(std::string_view pattern) {
  return AnyMatch(pattern, kDirectory | kHidden | kSystem);
}

bool DirectoryMatchExists(std::string_view pattern) {
  return AnyMatch(pattern, kHidden | kSystem);
}

// Directory handles, removal, renaming, copying and whole-file reading for
// the file-management component.
namespace {

// Removes `name` relative to `directory_fd` unless it is a directory or a
// read-only file; the delete refuses read-only files as the original
// platform does, for every user including root.
// `shown_folder` + `name` is the path a failure names; it is put together
// only then, since a tree's removal calls this for every file.
void UnlinkUnlessReadOnly(int directory_fd, const std::string& name,
                          std::string_view shown_folder = {}) {
  auto fail = [&](int error) {
    throw FailureFromErrno(error, PathText(std::string(shown_folder) + name));
  };
  struct stat st;
  if (::fstatat(directory_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    fail(errno);
  }
  if (S_ISDIR(st.st_mode)) fail(EISDIR);
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) fail(EACCES);
  if (::unlinkat(directory_fd, name.c_str(), 0) != 0) fail(errno);
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting a failure of the close.
  void Close(std::string_view shown) {
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) ThrowErrno(shown);
  }

 private:
  int fd_;
};

// Creates `to` (which must not exist) with a copy of the regular file open
// as `from_fd`, which it closes; `from` names that file in failures.
void CopyOpenFile(int from_fd, std::string_view from, std::string_view to);

class PosixDirectory : public DirectoryHandle {
 public:
  PosixDirectory(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  std::vector<Entry> Entries() override {
    int copy = ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) ThrowErrno(path_);
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
      ::close(copy);
      ThrowErrno(path_);
    }
    ::rewinddir(dir);
    std::vector<Entry> entries;
    while (struct dirent* entry = ::readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        continue;
      }
      entries.push_back(Entry{name, IsDirectory(*entry), IsLink(*entry)});
    }
    ::closedir(dir);
    return entries;
  }

  std::unique_ptr<DirectoryHandle> OpenSubdirectory(
      std::string_view name) override {
    std::string text = SystemPath(name);
    int fd = ::openat(fd_.get(), text.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) ThrowErrno(Shown(text));
    return std::make_unique<PosixDirectory>(fd, Shown(text) + "/");
  }

  void RemoveFile(std::string_view name) override {
    std::string text = SystemPath(name);
    UnlinkUnlessReadOnly(fd_.get(), text, path_);
  }

  void RemoveSubdirectory(std::string_view name) override {
    std::string text = SystemPath(name);
    if (::unlinkat(fd_.get(), text.c_str(), AT_REMOVEDIR) != 0) {
      ThrowErrno(Shown(text));
    }
  }

  void CopyFileOut(std::string_view name, std::string_view to) override {
    std::string text = SystemPath(name);
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
    int fd = ::openat(fd_.get(), text.c_str(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == ELOOP) {
      throw FailureFromErrno(EACCES, PathText(Shown(text)));
    }
    if (fd < 0) ThrowErrno(Shown(text));
    CopyOpenFile(fd, Shown(text), to);
  }

 private:
  bool IsLink(const struct dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_LNK;
    struct stat st;
    return ::fstatat(fd_.get(), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(st.st_mode);
  }
  bool IsDirectory(const struct dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
    struct stat st;
    return ::fstatat(fd_.get(), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
  }
  std::string Shown(const std::string& name) const { return path_ + name; }

  FileDescriptor fd_;
  std::string path_;
};

// Copies every byte from `in` to `out` by the kernel: a clone where the file
// system shares blocks, else copy_file_range, else plain reads and writes.
void CopyDescriptor(int in, int out, std::string_view shown) {
  if (::ioctl(out, FICLONE, in) == 0) return;
  bool kernel_copy = true;
  for (;;) {
    ssize_t copied = -1;
    if (kernel_copy) {
      copied = RetryOnInterrupt([&] {
        return ::copy_file_range(in, nullptr, out, nullptr, size_t{1} << 30, 0);
      });
      if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                         errno == EOPNOTSUPP)) {
        kernel_copy = false;
        continue;
      }
    } else {
      char buffer[65536];
      copied =
          RetryOnInterrupt([&] { return ::read(in, buffer, sizeof buffer); });
      for (ssize_t done = 0; copied > 0 && done < copied;) {
        ssize_t put = RetryOnInterrupt(
            [&] { return ::write(out, buffer + done, copied - done); });
        if (put < 0) ThrowErrno(shown);
        done += put;
      }
    }
    if (copied < 0) ThrowErrno(shown);
    if (copied == 0) return;
  }
}

// Gives the unnamed file open as `fd` the name `path` (which must not
// exist): directly where the process may, else through its /proc entry.
void LinkUnnamedFile(int fd, const std::string& path) {
  if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return;
  if (errno != ENOENT && errno != EPERM) ThrowErrno(path);
  std::string handle = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, path.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
    ThrowErrno(path);
  }
}

void DiscardTemporary(const std::string& temporary) {
  if (temporary.empty()) return;
  try {
    Files().Remove(temporary);
  } catch (...) {
    // A temporary that cannot be removed is the caller's litter, not its
    // failure: the failure being reported is the one that matters.
  }
}

std::string DirectoryPart(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string()
                                         : PathText(path.substr(0, slash + 1));
}

// Fills a fresh temporary file beside `path` with `fill` and renames it over
// `path`; on any failure the temporary is removed and `path` is untouched.
// A failure names `path`, never the temporary the caller does not know.
template <class Fill>
void ReplaceThroughTemporary(std::string_view path, Fill fill) {
  RefuseUnreplaceable(path);
  std::string name = LastComponent(path).substr(0, 64);
  std::string temporary;
  try {
    temporary = Files().TemporaryName(DirectoryPart(path), "." + name + ".");
  } catch (Failure& failure) {
    // The failure names a candidate name the caller never heard of.
    failure.description =
        StandardFailure(failure.number).description + ": " + PathText(path);
    throw;
  }
  try {
    fill(temporary);
    PutInPlace(temporary, path);
  } catch (Failure& failure) {
    DiscardTemporary(temporary);
    NameInsteadOf(failure, temporary, path);
    throw;
  } catch (...) {
    DiscardTemporary(temporary);
    throw;
  }
}

}  // namespace

std::unique_ptr<DirectoryHandle> PosixFileSystem::OpenDirectory(
    std::string_view path) {
  std::string text = SystemPath(path);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  int fd =
      ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) ThrowErrno(path);
  if (text.back() != '/') text += '/';
  return std::make_unique<PosixDirectory>(fd, text);
}

void PosixFileSystem::RemoveUnlessReadOnly(std::string_view path) {
  UnlinkUnlessReadOnly(AT_FDCWD, SystemPath(path));
}

void PosixFileSystem::RenameNoReplace(std::string_view from,
                                      std::string_view to) {
  std::string old_name = SystemPath(from);
  std::string new_name = SystemPath(to);
  if (::renameat2(AT_FDCWD, old_name.c_str(), AT_FDCWD, new_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return;
  }
  if (errno != EINVAL) ThrowErrno(from);
  // A file system without the flag: a file moves by a link, which refuses
  // an existing name as well, and the removal of the old name.
  struct stat st;
  if (::lstat(old_name.c_str(), &st) != 0 || S_ISDIR(st.st_mode) ||
      ::link(old_name.c_str(), new_name.c_str()) != 0) {
    ThrowErrno(from);
  }
  if (::unlink(old_name.c_str()) != 0) ThrowErrno(from);
}

void PosixFileSystem::CopyFileData(std::string_view from, std::string_view to) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  int fd = ::open(SystemPath(from).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) ThrowErrno(from);
  CopyOpenFile(fd, from, to);
}

namespace {

void CopyOpenFile(int from_fd, std::string_view from, std::string_view to) {
  FileDescriptor in(from_fd);
  struct stat st;
  if (::fstat(in.get(), &st) != 0) ThrowErrno(from);
  if (!S_ISREG(st.st_mode)) throw FailureFromErrno(EACCES, PathText(from));
  std::string target = SystemPath(to);
  mode_t mode = st.st_mode & 0777;
  // The copy is made in a file without a name and linked in once complete,
  // so the name never shows a partial copy; where the file system cannot
  // do that, a partial copy is removed again.
  std::string directory = DirectoryPart(target);
  int fd = ::open(directory.empty() ? "." : directory.c_str(),
                  O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  bool unnamed = fd >= 0;
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      ThrowErrno(to);
    }
    fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) ThrowErrno(to);
  }
  FileDescriptor out(fd);
  try {
    CopyDescriptor(in.get(), out.get(), to);
    // The copy keeps the source's write time, as the platform's copy does.
    struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (::futimens(out.get(), times) != 0) ThrowErrno(to);
    if (unnamed) LinkUnnamedFile(out.get(), target);
    out.Close(to);
  } catch (...) {
    if (!unnamed) ::unlink(target.c_str());
    throw;
  }
}

}  // namespace

std::string PosixFileSystem::ReadRegularFile(std::string_view path,
                                             uint64_t limit) {
  FileDescriptor fd(
      ::open(SystemPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) ThrowErrno(path);
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) ThrowErrno(path);
  if (S_ISDIR(st.st_mode)) throw FailureFromErrno(EISDIR, PathText(path));
  if (!S_ISREG(st.st_mode)) {
    Failure failure = FailureFromErrno(EACCES, PathText(path));
    failure.description += " (not a regular file)";
    throw failure;
  }
  if (static_cast<uint64_t>(st.st_size) > limit) {
    throw StandardFailure(kOverflow);
  }
  std::string content(static_cast<size_t>(st.st_size), '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == content.size()) {
      // The file may have grown since fstat: look for more.
      if (content.size() >= limit) {
        char probe;
        ssize_t more =
            RetryOnInterrupt([&] { return ::read(fd.get(), &probe, 1); });
        if (more < 0) ThrowErrno(path);
        if (more > 0) throw StandardFailure(kOverflow);
        break;
      }
      content.resize(std::min<uint64_t>(limit, content.size() * 2 + 65536));
    }
    ssize_t got = RetryOnInterrupt([&] {
      return ::read(fd.get(), content.data() + filled, content.size() - filled);
    });
    if (got < 0) ThrowErrno(path);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  content.resize(filled);
  return content;
}

void RefuseUnreplaceable(std::string_view path) {
  std::optional<FileInfo> existing = Files().Stat(path);
  if (existing && (existing->attributes & kDirectory)) {
    throw FailureFromErrno(EISDIR, PathText(path));
  }
  if (existing && (existing->attributes & kReadOnly)) {
    throw FailureFromErrno(EACCES, PathText(path));
  }
}

void PutInPlace(std::string_view temporary, std::string_view path) {
  RefuseUnreplaceable(path);
  Files().Rename(temporary, path);
}

void NameInsteadOf(Failure& failure, std::string_view hidden,
                   std::string_view shown) {
  if (hidden.empty()) return;
  std::string from = PathText(hidden);
  std::string to = PathText(shown);
  std::string& text = failure.description;
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void WriteFileReplacing(std::string_view path, std::string_view content) {
  ReplaceThroughTemporary(path, [&](const std::string& temporary) {
    auto writer = Files().OpenWriter(temporary, WriteMode::kCreateNew);
    writer->Write(content);
    writer->Close();
  });
}

namespace {

// Puts a copy at `to` through `copy`, which creates the name it is given.
template <class Copy>
void CopyReplacing(std::string_view to, Copy copy) {
  // A new name takes the copy directly (it appears only once complete);
  // an existing one is replaced through a temporary beside it.
  if (!PathEntryExists(to)) {
    try {
      copy(to);
      return;
    } catch (const Failure& failure) {
      if (failure.number != kFileAlreadyExists) throw;
    }
  }
  ReplaceThroughTemporary(to, copy);
}

}  // namespace

void CopyFileReplacing(std::string_view from, std::string_view to) {
  CopyReplacing(
      to, [&](std::string_view target) { Files().CopyFileData(from, target); });
}

void CopyFileReplacing(DirectoryHandle& from, std::string_view name,
                       std::string_view to) {
  CopyReplacing(
      to, [&](std::string_view target) { from.CopyFileOut(name, target); });
}

bool PathEntryExists(std::string_view path) {
  // A path the system cannot take (a NUL, a level too long) names nothing.
  std::string system_path;
  try {
    system_path = SystemPath(path);
  } catch (const Failure&) {
    return false;
  }
  struct stat st;
  return ::lstat(system_path.c_str(), &st) == 0;
}

}  // namespace corvane::platform

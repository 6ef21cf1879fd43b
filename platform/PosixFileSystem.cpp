// SPDX-License-Identifier: Apache-2.0
// The POSIX file system: PosixFileSystem's members and PathEntryExists.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Descriptor.h"
#include "platform/Failure.h"
#include "platform/FilePaths.h"
#include "platform/FileSystem.h"
#include "platform/PosixDirectory.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

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

class PosixReader : public FileReader {
 public:
  explicit PosixReader(Descriptor fd) : fd_(std::move(fd)) {}
  size_t Read(char* buffer, size_t count) override {
    ssize_t got =
        RetryOnInterrupt([&] { return ::read(fd_.Get(), buffer, count); });
    if (got < 0) throw FailureFromErrno(errno);
    return static_cast<size_t>(got);
  }
  void Seek(uint64_t offset) override {
    if (::lseek(fd_.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
      throw FailureFromErrno(errno);
    }
  }

 private:
  Descriptor fd_;
};

class PosixWriter : public FileWriter {
 public:
  PosixWriter(Descriptor fd, std::string path, bool unnamed = false)
      : fd_(std::move(fd)), path_(std::move(path)), unnamed_(unnamed) {}
  void Write(std::string_view data) override {
    while (!data.empty()) {
      ssize_t put = RetryOnInterrupt(
          [&] { return ::write(fd_.Get(), data.data(), data.size()); });
      if (put < 0) ThrowErrno(path_);
      data.remove_prefix(static_cast<size_t>(put));
    }
  }
  void Close() override {
    // A file without a name stays open until LinkAs names it: closed, it
    // would be gone.
    if (unnamed_) return;
    if (!fd_.Close()) ThrowErrno(path_);
  }
  void LinkAs(std::string_view path) override {
    if (!unnamed_ || fd_.Get() < 0) FileWriter::LinkAs(path);
    LinkUnnamedFile(fd_.Get(), SystemPath(path));
    unnamed_ = false;
    Close();
  }

 private:
  Descriptor fd_;
  std::string path_;
  bool unnamed_;
};

Descriptor OpenForReading(std::string_view path) {
  Descriptor fd(::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  return fd;
}

}  // namespace

std::vector<FileInfo> PosixFileSystem::Find(std::string_view pattern) {
  // An empty path names nothing (not the current directory).
  if (pattern.empty()) return {};
  SystemPath(pattern);
  SearchPattern split = SplitPattern(pattern);
  std::string directory = split.directory.empty() ? "./" : split.directory;
  std::vector<FileInfo> found;
  DirectoryStream dir(::opendir(directory.c_str()));
  if (!dir) return found;
  // Each entry is looked up in the open directory: no walk of the whole
  // path per entry.
  int directory_fd = ::dirfd(dir.get());
  auto add = [&](const char* name) {
    struct statx st;
    if (NameMatches(split.name, name) && StatPath(name, st, directory_fd)) {
      found.push_back(InfoFromStat(name, st));
    }
  };
  add(".");
  add("..");
  while (struct dirent* entry = ::readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 ||
        std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    add(entry->d_name);
  }
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
  Descriptor fd = OpenForReading(path);
  struct stat st;
  bool regular = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode);
  PosixReader reader(std::move(fd));
  std::string content;
  if (regular && S_ISREG(st.st_mode)) {
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
      Descriptor fd(::open(directory.empty() ? "." : directory.c_str(),
                           O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
      if (fd.Get() < 0 &&
          (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        throw FailureFromErrno(EOPNOTSUPP, PathText(path));
      }
      if (fd.Get() < 0) ThrowErrno(path);
      return std::make_unique<PosixWriter>(std::move(fd), PathText(path), true);
    }
  }
  Descriptor fd(::open(SystemPath(path).c_str(), flags, 0666));
  if (fd.Get() < 0) ThrowErrno(path);
  return std::make_unique<PosixWriter>(std::move(fd), PathText(path));
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

std::unique_ptr<DirectoryHandle> PosixFileSystem::OpenDirectory(
    std::string_view path) {
  std::string text = SystemPath(path);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  Descriptor fd(
      ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  if (text.back() != '/') text += '/';
  return MakeDirectoryHandle(std::move(fd), text);
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
  Descriptor fd(
      ::open(SystemPath(from).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(from);
  CopyOpenFile(std::move(fd), from, to);
}

std::string PosixFileSystem::ReadRegularFile(std::string_view path,
                                             uint64_t limit) {
  Descriptor fd(
      ::open(SystemPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) ThrowErrno(path);
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
            RetryOnInterrupt([&] { return ::read(fd.Get(), &probe, 1); });
        if (more < 0) ThrowErrno(path);
        if (more > 0) throw StandardFailure(kOverflow);
        break;
      }
      content.resize(std::min<uint64_t>(limit, content.size() * 2 + 65536));
    }
    ssize_t got = RetryOnInterrupt([&] {
      return ::read(fd.Get(), content.data() + filled, content.size() - filled);
    });
    if (got < 0) ThrowErrno(path);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  content.resize(filled);
  return content;
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

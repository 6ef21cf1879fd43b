// SPDX-License-Identifier: Apache-2.0
#include "platform/RootedFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Descriptor.h"
#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

[[noreturn]] void ThrowErrno(std::string_view path) {
  throw FailureFromErrno(errno, std::string(path));
}

// `path` below the root: checked as the system takes it (a NUL or a level
// too long is refused, naming `path`) and without its leading "/".
std::string Below(std::string_view path) {
  std::string below = SystemPath(path);
  below.erase(0, below.find_first_not_of('/'));
  if (below.find_first_not_of('/') == std::string::npos) below.clear();
  return below;
}

// A failure of the root handle, which named `passed`, made to name `given`
// (the path the caller knows) with the rest of its text kept.
Failure Naming(const Failure& failure, std::string_view passed,
               std::string_view given) {
  Failure named = failure;
  std::string standard = StandardErrorText(failure.number) + ": ";
  std::string prefix = standard + (passed.empty() ? "." : std::string(passed));
  std::string rest;
  if (failure.description.starts_with(prefix)) {
    rest = failure.description.substr(prefix.size());
  }
  named.description = standard + std::string(given) + rest;
  return named;
}

HeldPath HeldBelow(const RootHandle& root, std::string_view given,
                   const std::string& below) {
  try {
    return root.Open(below);
  } catch (const Failure& failure) {
    throw Naming(failure, below, given);
  }
}

HeldPath Held(const RootHandle& root, std::string_view given) {
  return HeldBelow(root, given, Below(given));
}

struct Place {
  HeldPath directory;
  std::string name;
  int fd() const { return directory.Fd(); }
};

// The directory holding the last level of `given`, held open, and that
// level's name. A path that ends in "." or ".." (or names the root) is
// the directory it leads to, links followed, with the name ".".
Place PlaceOf(const RootHandle& root, std::string_view given) {
  std::string below = Below(given);
  auto levels = PathLevels(below);
  std::string_view end(below);
  while (!end.empty() && end.back() == '/') end.remove_suffix(1);
  end = end.substr(end.rfind('/') + 1);
  if (levels.empty() || end == "." || end == "..") {
    HeldPath itself = HeldBelow(root, given, below);
    if (!itself.IsDirectory())
      throw FailureFromErrno(ENOTDIR, std::string(given));
    return {std::move(itself), "."};
  }
  std::string parent;
  for (size_t level = 0; level + 1 < levels.size(); ++level) {
    if (!parent.empty()) parent += '/';
    parent += levels[level];
  }
  HeldPath directory = HeldBelow(root, given, parent);
  if (!directory.IsDirectory()) {
    throw FailureFromErrno(ENOTDIR, std::string(given));
  }
  return {std::move(directory), std::string(levels.back())};
}

// Whether a failure says nothing is there (a level missing or no
// directory), which Stat and Find answer with nothing rather than throw.
bool NothingThere(const Failure& failure) {
  return failure.number == kFileNotFound || failure.number == kPathNotFound;
}

// Read-only as the components know it: the owner's write bit is clear.
bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

FileInfo InfoOf(std::string name, const struct statx& st) {
  FileInfo info;
  bool directory = S_ISDIR(st.stx_mode);
  bool regular = S_ISREG(st.stx_mode);
  if (directory) info.attributes |= kDirectory;
  if (regular) info.attributes |= kArchive;
  if (!directory && !regular) info.attributes |= kSystem;
  if (IsReadOnlyMode(st.stx_mode)) info.attributes |= kReadOnly;
  bool dot_entry = name == "." || name == "..";
  if (!dot_entry && !name.empty() && name[0] == '.') {
    info.attributes |= kHidden;
  }
  info.name = std::move(name);
  info.size = directory ? 0 : st.stx_size;
  bool has_birth = (st.stx_mask & STATX_BTIME) != 0 && st.stx_btime.tv_sec;
  const auto& created = has_birth ? st.stx_btime : st.stx_ctime;
  info.creation_time = FileTimeFromUnix(created.tv_sec, created.tv_nsec);
  info.last_access_time =
      FileTimeFromUnix(st.stx_atime.tv_sec, st.stx_atime.tv_nsec);
  info.last_write_time =
      FileTimeFromUnix(st.stx_mtime.tv_sec, st.stx_mtime.tv_nsec);
  return info;
}

bool StatAt(int directory, const char* name, int flags, struct statx& st) {
  return ::statx(directory, name, flags, STATX_BASIC_STATS | STATX_BTIME,
                 &st) == 0;
}

std::string LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos || path.size() == 1
                         ? path
                         : path.substr(slash + 1));
}

// Only `*` and `?` are wildcards; `[`, `]` and `\` match themselves.
bool NameMatches(const std::string& pattern, const char* name) {
  if (pattern == "*") return true;
  std::string literal;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') literal += '\\';
    literal += c;
  }
  return ::fnmatch(literal.c_str(), name, 0) == 0;
}

std::string Joined(const std::string& directory, std::string_view name) {
  return directory.empty() ? std::string(name)
                           : directory + "/" + std::string(name);
}

// Removes `name` of the directory unless it is a directory or a read-only
// file (a link is removed as a link); failures name `shown`.
void UnlinkUnlessReadOnly(int directory, const std::string& name,
                          const std::string& shown) {
  struct stat st;
  if (::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    ThrowErrno(shown);
  }
  if (S_ISDIR(st.st_mode)) throw FailureFromErrno(EISDIR, shown);
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) {
    throw FailureFromErrno(EACCES, shown);
  }
  if (::unlinkat(directory, name.c_str(), 0) != 0) ThrowErrno(shown);
}

// Gives the unnamed file `fd` the name `name` in the directory: directly
// where the process may, else through the descriptor's /proc entry (which
// the kernel follows to the open file, never to a path).
void LinkUnnamed(int fd, const Place& place, const std::string& shown) {
  if (::linkat(fd, "", place.fd(), place.name.c_str(), AT_EMPTY_PATH) == 0) {
    return;
  }
  if (errno != ENOENT && errno != EPERM) ThrowErrno(shown);
  std::string handle = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, handle.c_str(), place.fd(), place.name.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
    ThrowErrno(shown);
  }
}

// Copies every byte from `in` to `out` by the kernel where it can: a
// clone, else copy_file_range, else reads and writes.
void CopyBytes(int in, int out, const std::string& shown) {
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

// Creates `to` (which must not exist) below the root with a copy of the
// open regular file `from_fd`, its permission bits and write time; the
// copy is named only once complete where the file system allows.
void CopyOpenFile(const RootHandle& root, int from_fd, std::string_view from,
                  std::string_view to) {
  std::string shown(to);
  struct stat st;
  if (::fstat(from_fd, &st) != 0) ThrowErrno(from);
  if (!S_ISREG(st.st_mode)) throw FailureFromErrno(EACCES, std::string(from));
  Place place = PlaceOf(root, to);
  mode_t mode = st.st_mode & 0777;
  int fd = ::openat(place.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  bool unnamed = fd >= 0;
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      ThrowErrno(shown);
    }
    fd = ::openat(place.fd(), place.name.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) ThrowErrno(shown);
  }
  Descriptor out(fd);
  try {
    CopyBytes(from_fd, out.Get(), shown);
    struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (::futimens(out.Get(), times) != 0) ThrowErrno(shown);
    if (unnamed) LinkUnnamed(out.Get(), place, shown);
    if (!out.Close()) ThrowErrno(shown);
  } catch (...) {
    if (!unnamed) ::unlinkat(place.fd(), place.name.c_str(), 0);
    throw;
  }
}

class RootedReader : public FileReader {
 public:
  explicit RootedReader(int fd) : fd_(fd) {}
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

class RootedWriter : public FileWriter {
 public:
  RootedWriter(const RootHandle& root, int fd, std::string path, bool unnamed)
      : root_(root), fd_(fd), path_(std::move(path)), unnamed_(unnamed) {}
  void Write(std::string_view data) override {
    while (!data.empty()) {
      ssize_t put = RetryOnInterrupt(
          [&] { return ::write(fd_.Get(), data.data(), data.size()); });
      if (put < 0) ThrowErrno(path_);
      data.remove_prefix(static_cast<size_t>(put));
    }
  }
  void Close() override {
    // A file without a name stays open until LinkAs names it.
    if (!unnamed_ && !fd_.Close()) ThrowErrno(path_);
  }
  void LinkAs(std::string_view path) override {
    if (!unnamed_ || fd_.Get() < 0) FileWriter::LinkAs(path);
    LinkUnnamed(fd_.Get(), PlaceOf(root_, path), std::string(path));
    unnamed_ = false;
    Close();
  }

 private:
  const RootHandle& root_;
  Descriptor fd_;
  std::string path_;
  bool unnamed_;
};

// An open directory below the root; names are taken relative to it, and a
// copy's target is placed below the root.
class RootedDirectory : public DirectoryHandle {
 public:
  RootedDirectory(const RootHandle& root, int fd, std::string shown)
      : root_(root), fd_(fd), shown_(std::move(shown)) {}

  std::vector<Entry> Entries() override {
    int copy = ::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) ThrowErrno(shown_);
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
      ::close(copy);
      ThrowErrno(shown_);
    }
    ::rewinddir(dir);
    std::vector<Entry> entries;
    while (struct dirent* entry = ::readdir(dir)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        continue;
      }
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st;
        if (::fstatat(fd_.Get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
          type = S_ISDIR(st.st_mode)   ? DT_DIR
                 : S_ISLNK(st.st_mode) ? DT_LNK
                                       : DT_REG;
        }
      }
      entries.push_back(Entry{name, type == DT_DIR, type == DT_LNK});
    }
    ::closedir(dir);
    return entries;
  }

  std::unique_ptr<DirectoryHandle> OpenSubdirectory(
      std::string_view name) override {
    std::string text = SystemPath(name);
    int fd = ::openat(fd_.Get(), text.c_str(),
                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) ThrowErrno(Shown(text));
    return std::make_unique<RootedDirectory>(root_, fd, Shown(text) + "/");
  }

  void RemoveFile(std::string_view name) override {
    std::string text = SystemPath(name);
    UnlinkUnlessReadOnly(fd_.Get(), text, Shown(text));
  }

  void RemoveSubdirectory(std::string_view name) override {
    std::string text = SystemPath(name);
    if (::unlinkat(fd_.Get(), text.c_str(), AT_REMOVEDIR) != 0) {
      ThrowErrno(Shown(text));
    }
  }

  void CopyFileOut(std::string_view name, std::string_view to) override {
    std::string text = SystemPath(name);
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
    Descriptor in(::openat(fd_.Get(), text.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (in.Get() < 0 && errno == ELOOP) {
      throw FailureFromErrno(EACCES, Shown(text));
    }
    if (in.Get() < 0) ThrowErrno(Shown(text));
    CopyOpenFile(root_, in.Get(), Shown(text), to);
  }

 private:
  std::string Shown(const std::string& name) const { return shown_ + name; }

  const RootHandle& root_;
  Descriptor fd_;
  std::string shown_;  // the directory's path as given, ending in "/"
};

// A second descriptor of what `held` holds, for an object that outlives it.
int Duplicate(const HeldPath& held, std::string_view shown) {
  int fd = ::fcntl(held.Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) ThrowErrno(shown);
  return fd;
}

}  // namespace

std::vector<FileInfo> RootedFileSystem::Find(std::string_view pattern) {
  if (pattern.empty()) return {};
  SystemPath(pattern);
  size_t slash = pattern.rfind('/');
  std::string directory_part = slash == std::string_view::npos
                                   ? ""
                                   : std::string(pattern.substr(0, slash + 1));
  std::string name_pattern(
      slash == std::string_view::npos ? pattern : pattern.substr(slash + 1));
  if (name_pattern.empty() || name_pattern == "*.*") name_pattern = "*";
  std::string below = Below(directory_part);
  std::optional<HeldPath> directory;
  try {
    directory.emplace(HeldBelow(root_, directory_part, below));
  } catch (const Failure&) {
    return {};  // a directory that cannot be read lists nothing
  }
  if (!directory->IsDirectory()) return {};
  int fd = directory->Fd();
  std::vector<FileInfo> found;
  struct statx st;
  if (NameMatches(name_pattern, ".") && StatAt(fd, ".", 0, st)) {
    found.push_back(InfoOf(".", st));
  }
  if (NameMatches(name_pattern, "..")) {
    // Above the root is the root itself: nothing outside is looked at.
    struct stat here;
    struct stat top;
    HeldPath root = root_.Open("");
    bool at_root = ::fstat(fd, &here) == 0 && ::fstat(root.Fd(), &top) == 0 &&
                   here.st_dev == top.st_dev && here.st_ino == top.st_ino;
    if (StatAt(fd, at_root ? "." : "..", 0, st)) {
      found.push_back(InfoOf("..", st));
    }
  }
  int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return found;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return found;
  }
  while (struct dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        !NameMatches(name_pattern, name) ||
        !StatAt(fd, name, AT_SYMLINK_NOFOLLOW, st)) {
      continue;
    }
    if (!S_ISLNK(st.stx_mode)) {
      found.push_back(InfoOf(name, st));
      continue;
    }
    // A link shows what it names while that stays below the root, itself
    // when it leads out; one that leads nowhere is passed over.
    try {
      HeldPath target = root_.Open(Joined(below, name));
      if (StatAt(target.Fd(), "", AT_EMPTY_PATH, st)) {
        found.push_back(InfoOf(name, st));
      }
    } catch (const Failure& failure) {
      if (!NothingThere(failure) && failure.number != kBadFileName) {
        found.push_back(InfoOf(name, st));
      }
    }
  }
  ::closedir(dir);
  return found;
}

std::optional<FileInfo> RootedFileSystem::Stat(std::string_view path) {
  if (path.empty()) return std::nullopt;
  std::optional<Place> place;
  try {
    place.emplace(PlaceOf(root_, path));
  } catch (const Failure& failure) {
    if (NothingThere(failure)) return std::nullopt;
    throw;
  }
  struct statx st;
  if (!StatAt(place->fd(), place->name.c_str(), AT_SYMLINK_NOFOLLOW, st)) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(path);
  }
  if (S_ISLNK(st.stx_mode)) {
    std::optional<HeldPath> target;
    try {
      target.emplace(Held(root_, path));
    } catch (const Failure& failure) {
      if (NothingThere(failure)) return std::nullopt;
      throw;
    }
    if (!StatAt(target->Fd(), "", AT_EMPTY_PATH, st)) ThrowErrno(path);
  }
  return InfoOf(LastComponent(path), st);
}

std::string RootedFileSystem::ReadFile(std::string_view path) {
  auto reader = OpenReader(path);
  std::string content;
  char buffer[65536];
  while (size_t got = reader->Read(buffer, sizeof buffer)) {
    content.append(buffer, got);
  }
  return content;
}

std::unique_ptr<FileReader> RootedFileSystem::OpenReader(
    std::string_view path) {
  HeldPath held = Held(root_, path);
  return std::make_unique<RootedReader>(Duplicate(held, path));
}

std::unique_ptr<FileWriter> RootedFileSystem::OpenWriter(std::string_view path,
                                                         WriteMode mode) {
  std::string shown(path);
  if (mode == WriteMode::kUnnamed) {
    Place place = PlaceOf(root_, path);
    int fd = ::openat(place.fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
      throw FailureFromErrno(EOPNOTSUPP, shown);
    }
    if (fd < 0) ThrowErrno(path);
    return std::make_unique<RootedWriter>(root_, fd, shown, true);
  }
  std::string below = Below(path);
  std::optional<HeldPath> held;
  try {
    held.emplace(root_.OpenForWriting(below, mode == WriteMode::kCreateNew));
  } catch (const Failure& failure) {
    throw Naming(failure, below, path);
  }
  Descriptor fd(Duplicate(*held, path));
  if (mode == WriteMode::kCreate && ::ftruncate(fd.Get(), 0) != 0) {
    ThrowErrno(path);
  }
  if (mode == WriteMode::kAppend) {
    int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags | O_APPEND) != 0) {
      ThrowErrno(path);
    }
  }
  return std::make_unique<RootedWriter>(root_, fd.Release(), shown, false);
}

void RootedFileSystem::Rename(std::string_view from, std::string_view to) {
  Place source = PlaceOf(root_, from);
  Place target = PlaceOf(root_, to);
  if (::renameat(source.fd(), source.name.c_str(), target.fd(),
                 target.name.c_str()) != 0) {
    ThrowErrno(from);
  }
}

void RootedFileSystem::Remove(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::unlinkat(place.fd(), place.name.c_str(), 0) != 0) ThrowErrno(path);
}

void RootedFileSystem::CreateDirectory(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::mkdirat(place.fd(), place.name.c_str(), 0777) != 0) ThrowErrno(path);
}

void RootedFileSystem::RemoveDirectory(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::unlinkat(place.fd(), place.name.c_str(), AT_REMOVEDIR) != 0) {
    ThrowErrno(path);
  }
}

void RootedFileSystem::SetAttributes(std::string_view path,
                                     uint32_t attributes) {
  std::optional<FileInfo> current = Stat(path);
  if (!current) throw FailureFromErrno(ENOENT, std::string(path));
  uint32_t settable = kReadOnly | kArchive |
                      (current->attributes & (kDirectory | kHidden | kSystem));
  if ((attributes & ~settable) != 0) throw StandardFailure(kInvalidCall);
  HeldPath held = Held(root_, path);
  struct stat st;
  if (::fstat(held.Fd(), &st) != 0) ThrowErrno(path);
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                  : (mode | S_IWUSR);
  if (::fchmod(held.Fd(), mode) != 0) ThrowErrno(path);
}

uint64_t RootedFileSystem::FreeSpace(std::string_view path) {
  HeldPath held = Held(root_, path);
  struct statvfs vfs;
  if (::fstatvfs(held.Fd(), &vfs) != 0) ThrowErrno(path);
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string RootedFileSystem::TemporaryName(std::string_view directory,
                                            std::string_view prefix) {
  static std::atomic<uint64_t> counter{0};
  std::string base(directory);
  if (!base.empty() && base.back() != '/') base += '/';
  constexpr int kAttempts = 100;
  std::string name;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%d.%llu.tmp",
                  static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(++counter));
    name = base + std::string(prefix) + suffix;
    Place place = PlaceOf(root_, name);
    struct stat st;
    if (::fstatat(place.fd(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) ==
        0) {
      continue;
    }
    if (errno == ENOENT) return name;
    ThrowErrno(name);
  }
  throw FailureFromErrno(EEXIST, name);
}

std::unique_ptr<DirectoryHandle> RootedFileSystem::OpenDirectory(
    std::string_view path) {
  Place place = PlaceOf(root_, path);
  int fd = ::openat(place.fd(), place.name.c_str(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) ThrowErrno(path);
  std::string shown(path);
  while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  if (shown.empty() || shown.back() != '/') shown += '/';
  return std::make_unique<RootedDirectory>(root_, fd, shown);
}

void RootedFileSystem::RemoveUnlessReadOnly(std::string_view path) {
  Place place = PlaceOf(root_, path);
  UnlinkUnlessReadOnly(place.fd(), place.name, std::string(path));
}

void RootedFileSystem::RenameNoReplace(std::string_view from,
                                       std::string_view to) {
  Place source = PlaceOf(root_, from);
  Place target = PlaceOf(root_, to);
  if (::renameat2(source.fd(), source.name.c_str(), target.fd(),
                  target.name.c_str(), RENAME_NOREPLACE) == 0) {
    return;
  }
  if (errno != EINVAL) ThrowErrno(from);
  // A file system without the flag: a file moves by a link, which refuses
  // an existing name as well, and the removal of the old name.
  struct stat st;
  if (::fstatat(source.fd(), source.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) !=
          0 ||
      S_ISDIR(st.st_mode) ||
      ::linkat(source.fd(), source.name.c_str(), target.fd(),
               target.name.c_str(), 0) != 0) {
    ThrowErrno(from);
  }
  if (::unlinkat(source.fd(), source.name.c_str(), 0) != 0) ThrowErrno(from);
}

void RootedFileSystem::CopyFileData(std::string_view from,
                                    std::string_view to) {
  HeldPath held = Held(root_, from);
  CopyOpenFile(root_, held.Fd(), from, to);
}

std::string RootedFileSystem::ReadRegularFile(std::string_view path,
                                              uint64_t limit) {
  HeldPath held = Held(root_, path);
  if (held.IsDirectory()) throw FailureFromErrno(EISDIR, std::string(path));
  int fd = held.Fd();
  struct stat st;
  if (::fstat(fd, &st) != 0) ThrowErrno(path);
  if (static_cast<uint64_t>(st.st_size) > limit) {
    throw StandardFailure(kOverflow);
  }
  // Held files were opened without blocking; a regular file reads as ever.
  std::string content(static_cast<size_t>(st.st_size), '\0');
  size_t filled = 0;
  for (;;) {
    if (filled == content.size()) {
      // The file may have grown since fstat: look for more.
      if (content.size() >= limit) {
        char probe;
        ssize_t more = RetryOnInterrupt([&] { return ::read(fd, &probe, 1); });
        if (more < 0) ThrowErrno(path);
        if (more > 0) throw StandardFailure(kOverflow);
        break;
      }
      content.resize(std::min<uint64_t>(limit, content.size() * 2 + 65536));
    }
    ssize_t got = RetryOnInterrupt([&] {
      return ::read(fd, content.data() + filled, content.size() - filled);
    });
    if (got < 0) ThrowErrno(path);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  content.resize(filled);
  return content;
}

}  // namespace corvane::platform

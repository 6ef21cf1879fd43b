// SPDX-License-Identifier: Apache-2.0
#include "platform/FileOps.h"

#include <fnmatch.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Failure.h"
#include "platform/FilePaths.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

int64_t FileTime(const struct statx_timestamp& t) {
  return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

// Whether the open failure `errno` says the file system cannot make a file
// without a name (rather than that the directory is wrong).
bool UnnamedUnsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

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

// A directory whose entries are named relative to its descriptor.
class DescriptorDirectory : public DirectoryHandle {
 public:
  DescriptorDirectory(Descriptor fd, std::string shown, CopyOut copy_out)
      : fd_(std::move(fd)),
        shown_(std::move(shown)),
        copy_out_(std::move(copy_out)) {}

  std::vector<Entry> Entries() override {
    DirectoryStream dir = StreamOf(fd_.Get());
    if (!dir) ThrowErrno(shown_);
    std::vector<Entry> entries;
    while (struct dirent* entry = ::readdir(dir.get())) {
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
      entries.push_back(
          Entry{name, type == DT_DIR, type == DT_LNK, entry->d_ino});
    }
    return entries;
  }

  std::unique_ptr<DirectoryHandle> OpenSubdirectory(
      std::string_view name) override {
    std::string text = SystemPath(name);
    Descriptor fd(::openat(fd_.Get(), text.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) ThrowErrno(Shown(text));
    return std::make_unique<DescriptorDirectory>(std::move(fd),
                                                 Shown(text) + "/", copy_out_);
  }

  void RemoveFile(std::string_view name) override {
    std::string text = SystemPath(name);
    UnlinkUnlessReadOnly(fd_.Get(), text, shown_, text);
  }

  void RemoveFiles(std::span<const Entry> files) override {
    // The file system is asked in the order of the files' inodes: ext4 then
    // visits its inode table in turn, about a tenth less work than in the
    // directory's own (hashed) order.
    std::vector<std::string> names;
    names.reserve(files.size());
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      names.push_back(SystemPath(files[i].name));
      order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return files[a].inode < files[b].inode;
    });
    size_t stop = files.size();
    int refusal = 0;
    for (size_t i : order) {
      if (i >= stop) continue;
      if (int why = FileRemovalRefusal(fd_.Get(), names[i].c_str())) {
        stop = i;
        refusal = why;
      }
    }
    for (size_t i : order) {
      if (i < stop && ::unlinkat(fd_.Get(), names[i].c_str(), 0) != 0) {
        throw FailureFromErrno(errno, PathText(Shown(names[i])));
      }
    }
    if (stop < files.size()) {
      throw FailureFromErrno(refusal, PathText(Shown(names[stop])));
    }
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
      throw FailureFromErrno(EACCES, PathText(Shown(text)));
    }
    if (in.Get() < 0) ThrowErrno(Shown(text));
    copy_out_(std::move(in), Shown(text), to);
  }

 private:
  std::string Shown(const std::string& name) const { return shown_ + name; }

  Descriptor fd_;
  std::string shown_;  // the directory's path as given, ending in "/"
  CopyOut copy_out_;
};

}  // namespace

DirectoryStream StreamOf(int fd) {
  Descriptor copy(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
  if (copy.Get() < 0) return nullptr;
  DirectoryStream dir(::fdopendir(copy.Get()));
  if (!dir) return nullptr;
  copy.Release();  // the stream closes it now
  // The copy shares the original's position: start from the first entry.
  ::rewinddir(dir.get());
  return dir;
}

bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

bool StatAt(int directory_fd, const char* name, int flags, struct statx& st) {
  return ::statx(directory_fd, name, flags, STATX_BASIC_STATS | STATX_BTIME,
                 &st) == 0;
}

FileInfo InfoFromStat(std::string name, const struct statx& st) {
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
  info.creation_time = FileTime(has_birth ? st.stx_btime : st.stx_ctime);
  info.last_access_time = FileTime(st.stx_atime);
  info.last_write_time = FileTime(st.stx_mtime);
  return info;
}

bool NameMatches(const std::string& pattern, const char* name) {
  if (pattern == "*") return true;  // a whole listing: every name
  std::string literal;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') literal += '\\';
    literal += c;
  }
  return ::fnmatch(literal.c_str(), name, 0) == 0;
}

size_t DescriptorReader::Read(char* buffer, size_t count) {
  ssize_t got =
      RetryOnInterrupt([&] { return ::read(fd_.Get(), buffer, count); });
  if (got < 0) throw FailureFromErrno(errno);
  return static_cast<size_t>(got);
}

void DescriptorReader::Seek(uint64_t offset) {
  if (::lseek(fd_.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
    throw FailureFromErrno(errno);
  }
}

std::string ReadToEnd(Descriptor fd) {
  struct stat st;
  bool regular = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode);
  std::string content;
  if (regular) content.reserve(static_cast<size_t>(st.st_size));
  DescriptorReader reader(std::move(fd));
  char buffer[65536];
  while (size_t got = reader.Read(buffer, sizeof buffer)) {
    content.append(buffer, got);
  }
  return content;
}

void DescriptorWriter::Write(std::string_view data) {
  while (!data.empty()) {
    ssize_t put = RetryOnInterrupt(
        [&] { return ::write(fd_.Get(), data.data(), data.size()); });
    if (put < 0) ThrowErrno(shown_);
    data.remove_prefix(static_cast<size_t>(put));
  }
}

void DescriptorWriter::Close() {
  // A file without a name stays open until LinkAs names it: closed, it
  // would be gone.
  if (!link_ && !fd_.Close()) ThrowErrno(shown_);
}

void DescriptorWriter::LinkAs(std::string_view path) {
  if (!link_ || fd_.Get() < 0) FileWriter::LinkAs(path);
  link_(fd_.Get(), path);
  link_ = nullptr;
  Close();
}

Descriptor OpenUnnamed(int directory_fd, const std::string& directory,
                       mode_t mode, std::string_view shown) {
  Descriptor fd(::openat(directory_fd,
                         directory.empty() ? "." : directory.c_str(),
                         O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  if (fd.Get() < 0 && !UnnamedUnsupported(errno)) ThrowErrno(shown);
  return fd;
}

void LinkUnnamedFile(int fd, int directory_fd, const std::string& name,
                     std::string_view shown) {
  if (::linkat(fd, "", directory_fd, name.c_str(), AT_EMPTY_PATH) == 0) return;
  if (errno != ENOENT && errno != EPERM) ThrowErrno(shown);
  std::string handle = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, handle.c_str(), directory_fd, name.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
    ThrowErrno(shown);
  }
}

int FileRemovalRefusal(int directory_fd, const char* name) {
  struct stat st;
  if (::fstatat(directory_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno;
  }
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return EACCES;
  return 0;
}

void UnlinkUnlessReadOnly(int directory_fd, const std::string& name,
                          std::string_view shown_folder,
                          std::string_view shown_name) {
  auto fail = [&](int error) {
    std::string shown(shown_folder);
    shown += shown_name;
    throw FailureFromErrno(error, PathText(shown));
  };
  if (int refusal = FileRemovalRefusal(directory_fd, name.c_str())) {
    fail(refusal);
  }
  if (::unlinkat(directory_fd, name.c_str(), 0) != 0) fail(errno);
}

void RenameWithoutReplacing(int from_fd, const std::string& from_name,
                            int to_fd, const std::string& to_name,
                            std::string_view shown) {
  if (::renameat2(from_fd, from_name.c_str(), to_fd, to_name.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return;
  }
  if (errno != EINVAL) ThrowErrno(shown);
  // A file system without the flag: a file moves by a link, which refuses
  // an existing name as well, and the removal of the old name.
  struct stat st;
  if (::fstatat(from_fd, from_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      S_ISDIR(st.st_mode) ||
      ::linkat(from_fd, from_name.c_str(), to_fd, to_name.c_str(), 0) != 0) {
    ThrowErrno(shown);
  }
  if (::unlinkat(from_fd, from_name.c_str(), 0) != 0) ThrowErrno(shown);
}

struct stat RegularSource(int in, std::string_view from) {
  struct stat st;
  if (::fstat(in, &st) != 0) ThrowErrno(from);
  if (!S_ISREG(st.st_mode)) throw FailureFromErrno(EACCES, PathText(from));
  return st;
}

void CopyInto(int in, const struct stat& source, const CopyTarget& target) {
  const std::string& shown = target.shown;
  mode_t mode = source.st_mode & 0777;
  Descriptor out =
      OpenUnnamed(target.directory_fd, target.directory, mode, shown);
  bool unnamed = out.Get() >= 0;
  if (!unnamed) {
    out.Reset(::openat(target.directory_fd, target.name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                       mode));
    if (out.Get() < 0) ThrowErrno(shown);
  }
  try {
    CopyDescriptor(in, out.Get(), shown);
    // The copy keeps the source's write time, as the platform's copy does.
    struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
    if (::futimens(out.Get(), times) != 0) ThrowErrno(shown);
    if (unnamed) {
      LinkUnnamedFile(out.Get(), target.directory_fd, target.name, shown);
    }
    if (!out.Close()) ThrowErrno(shown);
  } catch (...) {
    if (!unnamed) ::unlinkat(target.directory_fd, target.name.c_str(), 0);
    throw;
  }
}

std::string ReadRegular(int fd, std::string_view shown, uint64_t limit) {
  struct stat st;
  if (::fstat(fd, &st) != 0) ThrowErrno(shown);
  if (S_ISDIR(st.st_mode)) throw FailureFromErrno(EISDIR, PathText(shown));
  if (!S_ISREG(st.st_mode)) {
    Failure failure = FailureFromErrno(EACCES, PathText(shown));
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
        ssize_t more = RetryOnInterrupt([&] { return ::read(fd, &probe, 1); });
        if (more < 0) ThrowErrno(shown);
        if (more > 0) throw StandardFailure(kOverflow);
        break;
      }
      content.resize(std::min<uint64_t>(limit, content.size() * 2 + 65536));
    }
    ssize_t got = RetryOnInterrupt([&] {
      return ::read(fd, content.data() + filled, content.size() - filled);
    });
    if (got < 0) ThrowErrno(shown);
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  content.resize(filled);
  return content;
}

void CheckSettable(const std::optional<FileInfo>& current,
                   std::string_view path, uint32_t attributes) {
  if (!current) throw FailureFromErrno(ENOENT, PathText(path));
  // Bits the path already has (directory, hidden, system) may be given
  // back as they were read; only read-only can change.
  uint32_t settable = kReadOnly | kArchive |
                      (current->attributes & (kDirectory | kHidden | kSystem));
  if ((attributes & ~settable) != 0) throw StandardFailure(kInvalidCall);
}

mode_t ModeWithAttributes(mode_t mode, uint32_t attributes) {
  mode &= 07777;
  return (attributes & kReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                                  : (mode | S_IWUSR);
}

std::string FreeTemporaryName(
    std::string_view directory, std::string_view prefix,
    const std::function<bool(const std::string& name)>& taken) {
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
    if (!taken(name)) return name;
  }
  throw FailureFromErrno(EEXIST, PathText(name));
}

std::unique_ptr<DirectoryHandle> MakeDirectoryHandle(Descriptor fd,
                                                     std::string shown,
                                                     CopyOut copy_out) {
  return std::make_unique<DescriptorDirectory>(std::move(fd), std::move(shown),
                                               std::move(copy_out));
}

}  // namespace corvane::platform

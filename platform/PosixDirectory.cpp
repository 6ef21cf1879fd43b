// SPDX-License-Identifier: Apache-2.0
// Directory handles and the other operations relative to an open
// descriptor, for the POSIX file system.
#include "platform/PosixDirectory.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Failure.h"
#include "platform/FilePaths.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

class PosixDirectory : public DirectoryHandle {
 public:
  PosixDirectory(Descriptor fd, std::string path)
      : fd_(std::move(fd)), path_(std::move(path)) {}

  std::vector<Entry> Entries() override {
    // A copy of the descriptor is read, so that each listing starts afresh
    // and the handle stays usable.
    Descriptor copy(::fcntl(fd_.Get(), F_DUPFD_CLOEXEC, 0));
    if (copy.Get() < 0) ThrowErrno(path_);
    DirectoryStream dir(::fdopendir(copy.Get()));
    if (!dir) ThrowErrno(path_);
    copy.Release();  // the stream closes it now
    ::rewinddir(dir.get());
    std::vector<Entry> entries;
    while (struct dirent* entry = ::readdir(dir.get())) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
        continue;
      }
      entries.push_back(Entry{name, IsDirectory(*entry), IsLink(*entry)});
    }
    return entries;
  }

  std::unique_ptr<DirectoryHandle> OpenSubdirectory(
      std::string_view name) override {
    std::string text = SystemPath(name);
    Descriptor fd(::openat(fd_.Get(), text.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) ThrowErrno(Shown(text));
    return std::make_unique<PosixDirectory>(std::move(fd), Shown(text) + "/");
  }

  void RemoveFile(std::string_view name) override {
    std::string text = SystemPath(name);
    UnlinkUnlessReadOnly(fd_.Get(), text, path_);
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
    Descriptor fd(::openat(fd_.Get(), text.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0 && errno == ELOOP) {
      throw FailureFromErrno(EACCES, PathText(Shown(text)));
    }
    if (fd.Get() < 0) ThrowErrno(Shown(text));
    CopyOpenFile(std::move(fd), Shown(text), to);
  }

 private:
  bool IsLink(const struct dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_LNK;
    struct stat st;
    return ::fstatat(fd_.Get(), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISLNK(st.st_mode);
  }
  bool IsDirectory(const struct dirent& entry) const {
    if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
    struct stat st;
    return ::fstatat(fd_.Get(), entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
  }
  std::string Shown(const std::string& name) const { return path_ + name; }

  Descriptor fd_;
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

}  // namespace

bool IsReadOnlyMode(mode_t mode) { return (mode & S_IWUSR) == 0; }

std::unique_ptr<DirectoryHandle> MakeDirectoryHandle(Descriptor fd,
                                                     std::string shown) {
  return std::make_unique<PosixDirectory>(std::move(fd), std::move(shown));
}

void UnlinkUnlessReadOnly(int directory_fd, const std::string& name,
                          std::string_view shown_folder) {
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

void CopyOpenFile(Descriptor in, std::string_view from, std::string_view to) {
  struct stat st;
  if (::fstat(in.Get(), &st) != 0) ThrowErrno(from);
  if (!S_ISREG(st.st_mode)) throw FailureFromErrno(EACCES, PathText(from));
  std::string target = SystemPath(to);
  mode_t mode = st.st_mode & 0777;
  // The copy is made in a file without a name and linked in once complete,
  // so the name never shows a partial copy; where the file system cannot
  // do that, a partial copy is removed again.
  std::string directory = DirectoryPart(target);
  Descriptor out(::open(directory.empty() ? "." : directory.c_str(),
                        O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  bool unnamed = out.Get() >= 0;
  if (!unnamed) {
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      ThrowErrno(to);
    }
    out.Reset(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (out.Get() < 0) ThrowErrno(to);
  }
  try {
    CopyDescriptor(in.Get(), out.Get(), to);
    // The copy keeps the source's write time, as the platform's copy does.
    struct timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
    if (::futimens(out.Get(), times) != 0) ThrowErrno(to);
    if (unnamed) LinkUnnamedFile(out.Get(), target);
    if (!out.Close()) ThrowErrno(to);
  } catch (...) {
    if (!unnamed) ::unlink(target.c_str());
    throw;
  }
}

void LinkUnnamedFile(int fd, const std::string& path) {
  if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return;
  if (errno != ENOENT && errno != EPERM) ThrowErrno(path);
  std::string handle = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, handle.c_str(), AT_FDCWD, path.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
    ThrowErrno(path);
  }
}

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/RootHandle.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

// How many links one path may pass through, as the kernel allows.
constexpr int kMostLinks = 40;

// How often openat2 is asked again when a rename elsewhere made it unsure.
constexpr int kOpenat2Attempts = 3;

std::atomic<int> forced_walks{0};
std::atomic<bool> openat2_missing{false};

// The failure for an errno of a resolution; EXDEV is a path that leads out.
Failure FailureFor(int error, std::string_view relative) {
  std::string shown = relative.empty() ? "." : std::string(relative);
  if (error == EXDEV) {
    return Failure(kPathFileAccessError, "",
                   StandardErrorText(kPathFileAccessError) + ": " + shown +
                       " leads out of the directory it is kept in");
  }
  return FailureFromErrno(error, shown);
}

// Pushes the levels of `path` so that its first level is taken next.
void PushLevels(std::vector<std::string>& pending, std::string_view path) {
  auto levels = PathLevels(path);
  for (auto level = levels.rbegin(); level != levels.rend(); ++level) {
    pending.emplace_back(*level);
  }
}

// Whether the directory is on a /proc file system, whose links name a
// process's files rather than a place in the tree.
bool OnProc(int directory) {
  struct statfs fs;
  return ::fstatfs(directory, &fs) == 0 &&
         fs.f_type == static_cast<decltype(fs.f_type)>(PROC_SUPER_MAGIC);
}

// The target of the link `name`; false (errno set) when it cannot be read.
bool ReadLink(int directory, const std::string& name, std::string& target) {
  std::string buffer(PATH_MAX, '\0');
  ssize_t length =
      ::readlinkat(directory, name.c_str(), buffer.data(), buffer.size());
  if (length < 0) return false;
  if (static_cast<size_t>(length) >= buffer.size()) {
    errno = ENAMETOOLONG;
    return false;
  }
  buffer.resize(static_cast<size_t>(length));
  target = std::move(buffer);
  return true;
}

// Whether openat2's answer is one the walk must give instead: it is not
// there or not allowed (ENOSYS, EPERM from a seccomp filter, E2BIG, EINVAL),
// or only the walk can tell an absolute link that stays inside (EXDEV) and
// a loop (ELOOP) from a link that leads out.
bool WalkDecides(int error) {
  return error == ENOSYS || error == EPERM || error == E2BIG ||
         error == EINVAL || error == EXDEV || error == ELOOP || error == EAGAIN;
}

std::string Normalised(std::string_view path) {
  std::string result(path);
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

std::vector<std::string_view> PathLevels(std::string_view path) {
  std::vector<std::string_view> levels;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view level = path.substr(start, slash - start);
    start = slash + 1;
    if (!level.empty() && level != ".") levels.push_back(level);
  }
  return levels;
}

// What a resolution opened, or the errno value that stopped it.
struct RootHandle::Resolved {
  Descriptor fd;
  int error = 0;
};

RootHandle::RootHandle(std::string_view root) {
  std::string system = SystemPath(root);
  char* resolved = ::realpath(system.c_str(), nullptr);
  if (resolved == nullptr) throw FailureFromErrno(errno, std::string(root));
  path_ = resolved;
  std::free(resolved);
  fd_.Reset(::open(path_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (fd_.Get() < 0) throw FailureFromErrno(errno, std::string(root));
  given_ = Normalised(root);
}

RootHandle::RootHandle(RootHandle&& other) noexcept = default;
RootHandle& RootHandle::operator=(RootHandle&& other) noexcept = default;
RootHandle::~RootHandle() = default;

std::optional<std::string> RootHandle::BelowRoot(
    std::string_view absolute) const {
  for (const std::string& base : {path_, given_}) {
    if (base.empty() || base.front() != '/') continue;
    if (base == "/") return std::string(absolute.substr(1));
    if (absolute == base) return std::string();
    if (absolute.starts_with(base) && absolute[base.size()] == '/') {
      return std::string(absolute.substr(base.size() + 1));
    }
  }
  return std::nullopt;
}

RootHandle::Resolved RootHandle::Resolve(std::string_view relative, int flags,
                                         unsigned mode) const {
  std::string system = SystemPath(relative.empty() ? "." : relative);
  flags |= O_CLOEXEC;
  if (forced_walks.load() == 0 && !openat2_missing.load()) {
    struct open_how how {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0; attempt < kOpenat2Attempts; ++attempt) {
      long fd = RetryOnInterrupt([&] {
        return ::syscall(SYS_openat2, fd_.Get(), system.c_str(), &how,
                         sizeof how);
      });
      if (fd >= 0) return {Descriptor(static_cast<int>(fd)), 0};
      int error = errno;
      if (error == EAGAIN) continue;
      if (error == ENOSYS) openat2_missing.store(true);
      if (!WalkDecides(error)) return {Descriptor(), error};
      break;
    }
  }
  return Walk(system, flags, mode);
}

RootHandle::Resolved RootHandle::Walk(std::string_view relative, int flags,
                                      unsigned mode,
                                      std::vector<std::string>* names) const {
  std::vector<Descriptor> levels;    // opened below the root, deepest last
  std::vector<std::string> taken;    // the names of `levels`
  std::vector<std::string> pending;  // the level taken next is last
  if (!relative.empty() && relative.front() == '/') {
    auto below = BelowRoot(relative);
    if (!below) return {Descriptor(), EXDEV};
    PushLevels(pending, *below);
  } else {
    PushLevels(pending, relative);
  }
  int links = 0;
  while (!pending.empty()) {
    std::string name = std::move(pending.back());
    pending.pop_back();
    int at = levels.empty() ? fd_.Get() : levels.back().Get();
    if (name == "..") {
      if (levels.empty()) return {Descriptor(), EXDEV};
      levels.pop_back();
      taken.pop_back();
      continue;
    }
    bool last = pending.empty();
    struct stat st;
    bool exists = ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && !(errno == ENOENT && last && (flags & O_CREAT) != 0)) {
      return {Descriptor(), errno};
    }
    if (exists && last && (flags & O_EXCL) != 0) return {Descriptor(), EEXIST};
    if (exists && S_ISLNK(st.st_mode)) {
      if (++links > kMostLinks) return {Descriptor(), ELOOP};
      if (OnProc(at)) return {Descriptor(), EXDEV};
      std::string target;
      if (!ReadLink(at, name, target)) return {Descriptor(), errno};
      if (!target.empty() && target.front() == '/') {
        auto below = BelowRoot(target);
        if (!below) return {Descriptor(), EXDEV};
        levels.clear();
        taken.clear();
        target = std::move(*below);
      }
      PushLevels(pending, target);
      continue;
    }
    int open_flags = last ? flags | O_NOFOLLOW
                          : O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Descriptor fd(::openat(at, name.c_str(), open_flags, mode));
    if (fd.Get() < 0) {
      int error = errno;
      // A level swapped for a link since it was looked at is looked at
      // again, and the link then followed as any other.
      if ((error == ELOOP || error == ENOTDIR) &&
          ::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        pending.push_back(std::move(name));
        continue;
      }
      return {Descriptor(), error};
    }
    if (last) {
      // Only O_PATH opens a link itself: one swapped in since the look.
      if ((flags & O_PATH) != 0 && ::fstat(fd.Get(), &st) == 0 &&
          S_ISLNK(st.st_mode)) {
        pending.push_back(std::move(name));
        continue;
      }
      taken.push_back(std::move(name));
      if (names != nullptr) *names = std::move(taken);
      return {std::move(fd), 0};
    }
    levels.push_back(std::move(fd));
    taken.push_back(std::move(name));
  }
  // The path ended at a directory already open ("", ".", "a/..").
  int at = levels.empty() ? fd_.Get() : levels.back().Get();
  Descriptor fd(::openat(at, ".", flags, mode));
  if (fd.Get() < 0) return {Descriptor(), errno};
  if (names != nullptr) *names = std::move(taken);
  return {std::move(fd), 0};
}

Reach RootHandle::Where(std::string_view relative) const {
  Resolved resolved = Resolve(relative, O_PATH, 0);
  if (resolved.fd.Get() >= 0) return Reach::kInside;
  switch (resolved.error) {
    case EXDEV:
      return Reach::kOutside;
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
      return Reach::kNothing;
    default:
      throw FailureFor(resolved.error, relative);
  }
}

HeldPath RootHandle::Open(std::string_view relative) const {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  Resolved resolved = Resolve(relative, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
  if (resolved.fd.Get() < 0) throw FailureFor(resolved.error, relative);
  struct stat st;
  if (::fstat(resolved.fd.Get(), &st) != 0) throw FailureFor(errno, relative);
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
    throw Failure(kPathFileAccessError, "",
                  StandardErrorText(kPathFileAccessError) + ": " +
                      std::string(relative) +
                      " is neither a directory nor a regular file");
  }
  return HeldPath(std::move(resolved.fd), S_ISDIR(st.st_mode));
}

HeldPath RootHandle::OpenForWriting(std::string_view relative,
                                    bool must_be_new) const {
  int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY;
  if (must_be_new) flags |= O_EXCL;
  Resolved resolved = Resolve(relative, flags, 0666);
  if (resolved.fd.Get() < 0) throw FailureFor(resolved.error, relative);
  struct stat st;
  if (::fstat(resolved.fd.Get(), &st) != 0) throw FailureFor(errno, relative);
  if (!S_ISREG(st.st_mode)) {
    throw Failure(kPathFileAccessError, "",
                  StandardErrorText(kPathFileAccessError) + ": " +
                      std::string(relative) + " is not a regular file");
  }
  return HeldPath(std::move(resolved.fd), false);
}

void RootHandle::CreateDirectory(std::string_view relative) const {
  std::string path = Normalised(relative);
  size_t slash = path.rfind('/');
  std::string parent = slash == std::string::npos ? std::string()
                       : slash == 0               ? std::string("/")
                                                  : path.substr(0, slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // The root, "." and ".." name directories that are there already.
  if (name.empty() || name == "." || name == "..") {
    throw FailureFor(EEXIST, relative);
  }
  Resolved resolved = Resolve(parent, O_PATH | O_DIRECTORY, 0);
  if (resolved.fd.Get() < 0) throw FailureFor(resolved.error, relative);
  if (::mkdirat(resolved.fd.Get(), SystemPath(name).c_str(), 0777) != 0) {
    throw FailureFor(errno, relative);
  }
}

std::string RootHandle::ResolvedPath(std::string_view relative) const {
  std::vector<std::string> names;
  Resolved resolved = Walk(SystemPath(relative.empty() ? "." : relative),
                           O_PATH | O_CLOEXEC, 0, &names);
  if (resolved.fd.Get() < 0) throw FailureFor(resolved.error, relative);
  std::string path = path_;
  for (const auto& name : names) {
    if (path.back() != '/') path += '/';
    path += name;
  }
  return path;
}

std::optional<std::string> RootHandle::Locate(const HeldPath& held) const {
  struct stat st;
  if (::fstat(held.fd_.Get(), &st) != 0) throw FailureFromErrno(errno);
  if (st.st_nlink == 0) return std::nullopt;
  std::string named(PATH_MAX, '\0');
  ssize_t length = ::readlink(held.Path().c_str(), named.data(), named.size());
  if (length < 0) throw FailureFromErrno(errno);
  named.resize(static_cast<size_t>(length));
  if (named.empty() || named.front() != '/') return std::nullopt;
  if (named == path_) return std::string();
  if (path_ == "/") return named.substr(1);
  if (named.starts_with(path_) && named[path_.size()] == '/') {
    return named.substr(path_.size() + 1);
  }
  return std::nullopt;
}

ScopedFallbackWalk::ScopedFallbackWalk() { forced_walks.fetch_add(1); }

ScopedFallbackWalk::~ScopedFallbackWalk() { forced_walks.fetch_sub(1); }

}  // namespace corvane::platform

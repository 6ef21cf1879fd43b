// SPDX-License-Identifier: Apache-2.0
#include "platform/HeldPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace corvane::platform {
namespace {

// What a missing level, a link or a swapped level makes open fail with.
bool IsChangedOrMissing(int error) {
  return error == ENOENT || error == ELOOP || error == ENOTDIR ||
         error == ENXIO;
}

int OpenLevel(int parent, const std::string& name, bool last) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  if (!last) flags |= O_DIRECTORY;
  return ::openat(parent, SystemPath(name).c_str(), flags);
}

}  // namespace

std::optional<HeldPath> HeldPath::OpenBelow(
    const std::string& root, const std::vector<std::string>& levels) {
  int fd = ::open(SystemPath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (IsChangedOrMissing(errno)) return std::nullopt;
    throw FailureFromErrno(errno, root);
  }
  HeldPath held(fd, true);
  for (size_t i = 0; i < levels.size(); ++i) {
    const std::string& level = levels[i];
    if (level.empty() || level == "." || level == ".." ||
        level.find('/') != std::string::npos) {
      return std::nullopt;
    }
    int next = OpenLevel(held.fd_, level, i + 1 == levels.size());
    if (next < 0) {
      if (IsChangedOrMissing(errno)) return std::nullopt;
      throw FailureFromErrno(errno, level);
    }
    held = HeldPath(next, false);
  }
  struct stat st;
  if (::fstat(held.fd_, &st) != 0) throw FailureFromErrno(errno, root);
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return std::nullopt;
  held.directory_ = S_ISDIR(st.st_mode);
  return held;
}

HeldPath::HeldPath(int fd, bool directory)
    : fd_(fd),
      directory_(directory),
      path_("/proc/self/fd/" + std::to_string(fd)) {}

HeldPath::HeldPath(HeldPath&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      directory_(other.directory_),
      path_(std::move(other.path_)) {}

HeldPath& HeldPath::operator=(HeldPath&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    directory_ = other.directory_;
    path_ = std::move(other.path_);
  }
  return *this;
}

HeldPath::~HeldPath() {
  if (fd_ >= 0) ::close(fd_);
}

bool HeldPath::IsLink(std::string_view name) const {
  struct stat st;
  std::string text(name);
  return ::fstatat(fd_, text.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode);
}

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/HeldPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace corvane::platform {
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

bool HeldPath::LinksToDirectory(std::string_view name) const {
  struct stat st;
  std::string text(name);
  return IsLink(name) && ::fstatat(fd_, text.c_str(), &st, 0) == 0 &&
         S_ISDIR(st.st_mode);
}

}  // namespace corvane::platform

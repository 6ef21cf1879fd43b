// SPDX-License-Identifier: Apache-2.0
#include "platform/HeldPath.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>

namespace corvane::platform {

HeldPath::HeldPath(Descriptor fd, bool directory)
    : fd_(std::move(fd)),
      directory_(directory),
      path_("/proc/self/fd/" + std::to_string(fd_.Get())) {}

bool HeldPath::IsLink(std::string_view name) const {
  struct stat st;
  std::string text(name);
  return ::fstatat(fd_.Get(), text.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISLNK(st.st_mode);
}

bool HeldPath::LinksToDirectory(std::string_view name) const {
  struct stat st;
  std::string text(name);
  return IsLink(name) && ::fstatat(fd_.Get(), text.c_str(), &st, 0) == 0 &&
         S_ISDIR(st.st_mode);
}

}  // namespace corvane::platform

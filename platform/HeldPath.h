// SPDX-License-Identifier: Apache-2.0
// A directory or regular file held open by descriptor, reached level by
// level without following a link, so that a path checked once keeps naming
// the same thing: a link swapped in at one of its levels later cannot
// redirect what the holder works on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Export.h"

namespace corvane::platform {

class CORVANE_API HeldPath {
 public:
  // Opens `levels` one after the other below the directory `root`, none of
  // them followed if it is a link; the last one must be a directory or a
  // regular file. nullopt when a level is missing, a link or of another
  // kind; throws Failure for other failures (access denied, say).
  static std::optional<HeldPath> OpenBelow(
      const std::string& root, const std::vector<std::string>& levels);

  HeldPath(HeldPath&& other) noexcept;
  HeldPath& operator=(HeldPath&& other) noexcept;
  HeldPath(const HeldPath&) = delete;
  HeldPath& operator=(const HeldPath&) = delete;
  ~HeldPath();

  // A path that names exactly what is held, for as long as it is held
  // ("/proc/self/fd/N"). Never fails.
  const std::string& Path() const { return path_; }
  bool IsDirectory() const { return directory_; }
  // Whether `name` in the held directory is a symbolic link (not followed);
  // false when it is not or does not exist.
  bool IsLink(std::string_view name) const;

 private:
  HeldPath(int fd, bool directory);

  int fd_ = -1;
  bool directory_ = false;
  std::string path_;
};

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// A directory or regular file held open by descriptor (a RootHandle opens
// it), so that a path checked once keeps naming the same thing: a link
// swapped in at one of its levels later cannot redirect what the holder
// works on.
#pragma once

#include <string>
#include <string_view>

#include "platform/Descriptor.h"
#include "platform/Export.h"

namespace corvane::platform {

class CORVANE_API HeldPath {
 public:
  HeldPath(HeldPath&& other) noexcept = default;
  HeldPath& operator=(HeldPath&& other) noexcept = default;
  HeldPath(const HeldPath&) = delete;
  HeldPath& operator=(const HeldPath&) = delete;
  ~HeldPath() = default;

  // A path that names exactly what is held, for as long as it is held
  // ("/proc/self/fd/N"). Never fails.
  const std::string& Path() const { return path_; }
  bool IsDirectory() const { return directory_; }
  // The descriptor, owned by this object: for work relative to it.
  int Fd() const { return fd_.Get(); }
  // Whether `name` in the held directory is a symbolic link (not followed);
  // false when it is not or does not exist.
  bool IsLink(std::string_view name) const;
  // Whether `name` in the held directory is a symbolic link to a directory,
  // wherever it leads (only the kind of what it names is looked at); false
  // when it is not or leads nowhere.
  bool LinksToDirectory(std::string_view name) const;

 private:
  friend class RootHandle;
  HeldPath(Descriptor fd, bool directory);

  Descriptor fd_;
  bool directory_ = false;
  std::string path_;
};

}  // namespace corvane::platform

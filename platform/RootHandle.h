// SPDX-License-Identifier: Apache-2.0
// A directory held open as a root, and the paths below it opened so that
// they never reach outside it: not by "..", an absolute path, a symbolic
// link that leads out (one there from the start or one swapped in between
// two calls), nor a /proc link that names a process's files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/Export.h"
#include "platform/HeldPath.h"

namespace corvane::platform {

// Where a path below a root leads once its links are resolved.
enum class Reach {
  kInside,   // to something below the root, or the root itself
  kOutside,  // out of the root: "..", an absolute path, a link or /proc link
  kNothing,  // nowhere: a level is missing, no directory or a loop of links
};

// The levels of `path` in order, without empty and "." levels ("a//./b/"
// gives "a" and "b"); ".." levels are kept for the caller to judge. The
// views point into `path`. Never fails.
CORVANE_API std::vector<std::string_view> PathLevels(std::string_view path);

// Paths given to a RootHandle are relative to the root ("" and "." are the
// root; an absolute path counts only where it names a place below the root).
// A symbolic link is followed while its target stays below the root; an
// absolute target does when it begins with the root's path. The kernel
// resolves the path in one call (openat2 with RESOLVE_BENEATH and
// RESOLVE_NO_MAGICLINKS) where it offers that; where it does not (a kernel
// before 5.6, ENOSYS; a seccomp filter, EPERM; a size or flag it does not
// know, E2BIG or EINVAL), and to tell an absolute link that stays inside or
// a loop from a link that leads out, the path is walked one level at a time
// from the root's descriptor: each level opened without following a link,
// each link read and its target walked in the same walk, ".." above the
// root and every link on a /proc file system refused.
class CORVANE_API RootHandle {
 public:
  // Holds the directory `root` open (links in `root` itself are followed).
  // Throws Failure naming `root` when it is missing (53), no directory (76)
  // or cannot be opened.
  explicit RootHandle(std::string_view root);
  RootHandle(RootHandle&& other) noexcept;
  RootHandle& operator=(RootHandle&& other) noexcept;
  RootHandle(const RootHandle&) = delete;
  RootHandle& operator=(const RootHandle&) = delete;
  ~RootHandle();

  // The root's absolute path, links resolved, as it was when it was opened.
  const std::string& Path() const { return path_; }

  // Where `relative` leads. Throws Failure naming `relative` for anything
  // else that stops the way (a level that cannot be searched: 75).
  Reach Where(std::string_view relative) const;

  // The directory or regular file `relative` names, held open. Throws
  // Failure naming `relative`: 53 or 76 when nothing is there, 75 when it
  // leads out of the root or is neither a directory nor a regular file, 52
  // for a loop of links, others as the system reports them.
  HeldPath Open(std::string_view relative) const;

  // The regular file `relative` opened for writing, created (permission
  // bits 0666 less the umask) when missing; a link at its last level is
  // followed only while it stays below the root. With `must_be_new` an
  // existing entry is refused (58). Throws Failure as Open does.
  HeldPath OpenForWriting(std::string_view relative, bool must_be_new) const;

  // Creates the directory `relative` in its parent, which is reached as
  // Open reaches it. Throws Failure as Open does; 58 when the name is taken.
  void CreateDirectory(std::string_view relative) const;

  // The absolute path that `relative` names with every link resolved: the
  // root's path and the levels that the walk takes (no /proc needed).
  // Throws Failure as Open does.
  std::string ResolvedPath(std::string_view relative) const;

  // Where the system finds `held` now, relative to the root ("" for the
  // root); nullopt when it is no longer below the root (moved out, or
  // removed). Throws Failure when the system cannot name it.
  std::optional<std::string> Locate(const HeldPath& held) const;

 private:
  struct Resolved;
  Resolved Resolve(std::string_view relative, int flags, unsigned mode) const;
  // `names`, when given, receives the levels below the root that the walk
  // took to what it opened.
  Resolved Walk(std::string_view relative, int flags, unsigned mode,
                std::vector<std::string>* names = nullptr) const;
  std::optional<std::string> BelowRoot(std::string_view absolute) const;

  Descriptor fd_;
  std::string path_;   // the real path
  std::string given_;  // the path as the caller gave it, normalised
};

// While one lives (in any thread), every RootHandle walks level by level
// instead of asking the kernel: for the tests of the fall-back walk. Never
// fails.
class CORVANE_API ScopedFallbackWalk {
 public:
  ScopedFallbackWalk();
  ~ScopedFallbackWalk();
  ScopedFallbackWalk(const ScopedFallbackWalk&) = delete;
  ScopedFallbackWalk& operator=(const ScopedFallbackWalk&) = delete;
};

}  // namespace corvane::platform

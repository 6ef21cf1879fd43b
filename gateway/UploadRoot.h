// SPDX-License-Identifier: Apache-2.0
// Keeps the upload directory that a request names inside the directory that
// the administrator configured, whatever the request's cookie says, and
// measures what that directory holds for the quota.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wharfpost {

// The most levels an upload directory may lie below the root.
inline constexpr size_t kDeepestUploadDirectory = 32;

// An upload directory that passed the checks: the root's real path and the
// levels below it.
struct UploadPlace {
  std::string real_root;
  std::vector<std::string> levels;
  // The directory's path (without a trailing "/").
  std::string Path() const;
};

// Checks the directory that `requested` names under `root`, creating
// nothing: "\" reads as "/", a relative name is taken from the root, an
// absolute one must lie inside it, "." and ".." are resolved, no symbolic
// link may lead out and at most kDeepestUploadDirectory levels lie below the
// root. nullopt when the root is not an absolute existing directory or the
// directory is refused.
std::optional<UploadPlace> PlanUploadDirectory(std::string_view root,
                                               std::string_view requested);

// Creates the missing levels of a checked directory and returns its real
// path, ending with "/". nullopt when a level cannot be created or the
// directory no longer lies inside the root; the levels it created are then
// removed again.
std::optional<std::string> CreateUploadDirectory(const UploadPlace& place);

// PlanUploadDirectory, then CreateUploadDirectory.
std::optional<std::string> ConfinedUploadDirectory(std::string_view root,
                                                   std::string_view requested);

// Bytes of every file under `root`, in its subdirectories too (a symbolic
// link is never followed into a directory; a linked file counts with its
// target's length). Entries that vanish or cannot be read while measured
// count as 0. Throws Failure when the root itself cannot be read.
int64_t TreeBytes(const std::string& root);

}  // namespace corvane::wharfpost

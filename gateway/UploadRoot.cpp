// SPDX-License-Identifier: Apache-2.0
#include "gateway/UploadRoot.h"

#include <vector>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/RootHandle.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

using Levels = std::vector<std::string>;

// The levels of a path with "." dropped and ".." taking back the level
// before it; nullopt when ".." would climb above the first level.
std::optional<Levels> NormalLevels(std::string_view path) {
  Levels levels;
  for (std::string_view level : platform::PathLevels(path)) {
    if (level == "..") {
      if (levels.empty()) return std::nullopt;
      levels.pop_back();
      continue;
    }
    levels.emplace_back(level);
  }
  return levels;
}

std::string Joined(const std::string& base, const Levels& levels,
                   size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i) {
    if (path.empty() || path.back() != '/') path += '/';
    path += levels[i];
  }
  return path;
}

// The first `count` levels as a path below the root.
std::string Below(const Levels& levels, size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) {
    if (!path.empty()) path += '/';
    path += levels[i];
  }
  return path;
}

// The root held open; nullopt when it is missing or no directory.
std::optional<platform::RootHandle> OpenRoot(std::string_view root) {
  try {
    return platform::RootHandle(root);
  } catch (const Failure&) {
    // A root that cannot be opened refuses every upload directory, which
    // its callers report.
    return std::nullopt;
  }
}

// The levels of `requested` below the root, or nullopt when it leaves it.
std::optional<Levels> LevelsBelowRoot(std::string_view root,
                                      const std::string& real_root,
                                      const std::string& requested) {
  auto levels = NormalLevels(requested);
  if (!levels) return std::nullopt;
  if (requested.front() != '/') return levels;
  // An absolute directory must begin with the root, as configured or as
  // its real path.
  for (std::string_view base : {root, std::string_view(real_root)}) {
    auto base_levels = NormalLevels(base);
    if (!base_levels || base_levels->size() > levels->size()) continue;
    if (std::equal(base_levels->begin(), base_levels->end(), levels->begin())) {
      return Levels(levels->begin() + static_cast<long>(base_levels->size()),
                    levels->end());
    }
  }
  return std::nullopt;
}

// Whether the deepest level that exists resolves inside the root; a
// dangling symbolic link does not resolve and fails.
bool ExistingPartInside(const platform::RootHandle& root,
                        const Levels& levels) {
  size_t existing = levels.size();
  while (existing > 0 &&
         !platform::PathEntryExists(Joined(root.Path(), levels, existing))) {
    --existing;
  }
  try {
    return root.Where(Below(levels, existing)) == platform::Reach::kInside;
  } catch (const Failure&) {
    // A level that cannot be searched cannot be shown to stay inside.
    return false;
  }
}

// Removes the directories that were created, deepest first.
void RemoveCreated(const std::vector<std::string>& created) {
  for (auto level = created.rbegin(); level != created.rend(); ++level) {
    try {
      platform::Files().RemoveDirectory(*level);
    } catch (...) {
      // A level that cannot be removed is left empty; the refusal reported
      // is the one that made it go.
    }
  }
}

}  // namespace

std::string UploadPlace::Path() const {
  return Joined(real_root, levels, levels.size());
}

std::optional<UploadPlace> PlanUploadDirectory(std::string_view root,
                                               std::string_view requested) {
  if (root.empty() || root.front() != '/') return std::nullopt;
  auto handle = OpenRoot(root);
  if (!handle) return std::nullopt;
  std::string wanted(requested);
  for (char& c : wanted) {
    if (c == '\\') c = '/';
  }
  // A NUL (a cookie's "%00") would end the path early at the system.
  if (wanted.empty() || wanted.find('\0') != std::string::npos) {
    return std::nullopt;
  }
  auto levels = LevelsBelowRoot(root, handle->Path(), wanted);
  if (!levels || levels->size() > kDeepestUploadDirectory ||
      !ExistingPartInside(*handle, *levels)) {
    return std::nullopt;
  }
  return UploadPlace{handle->Path(), std::move(*levels)};
}

std::optional<std::string> CreateUploadDirectory(const UploadPlace& place) {
  auto root = OpenRoot(place.real_root);
  if (!root) return std::nullopt;
  std::vector<std::string> created;
  try {
    for (size_t count = 1; count <= place.levels.size(); ++count) {
      std::string level = Joined(place.real_root, place.levels, count);
      if (platform::PathEntryExists(level)) continue;
      // The parent is reached through the root handle first, so that a
      // level swapped for a link that leads out is refused before anything
      // is made; the level itself is made through the file system (where
      // tests inject faults).
      if (root->Where(Below(place.levels, count - 1)) !=
          platform::Reach::kInside) {
        throw StandardFailure(kPathFileAccessError);
      }
      platform::Files().CreateDirectory(level);
      created.push_back(std::move(level));
    }
    // Once it exists it is opened through the root handle, and its path
    // is the one the walk took to it, every link resolved.
    platform::HeldPath made =
        root->Open(Below(place.levels, place.levels.size()));
    if (!made.IsDirectory()) throw StandardFailure(kPathNotFound);
    std::string path =
        root->ResolvedPath(Below(place.levels, place.levels.size()));
    return cargane::AddBackslash(path);
  } catch (...) {
    RemoveCreated(created);
    return std::nullopt;
  }
}

std::optional<std::string> ConfinedUploadDirectory(std::string_view root,
                                                   std::string_view requested) {
  auto place = PlanUploadDirectory(root, requested);
  if (!place) return std::nullopt;
  return CreateUploadDirectory(*place);
}

int64_t TreeBytes(const std::string& root) {
  int64_t total = 0;
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    std::string directory = std::move(pending.back());
    pending.pop_back();
    std::vector<platform::DirectoryHandle::Entry> entries;
    try {
      entries = platform::Files().OpenDirectory(directory)->Entries();
    } catch (...) {
      if (directory == root) throw;
      continue;
    }
    for (const auto& entry : entries) {
      std::string path = directory + "/" + entry.name;
      if (entry.directory) {
        pending.push_back(std::move(path));
        continue;
      }
      try {
        auto info = platform::Files().Stat(path);
        if (info &&
            !(info->attributes & (platform::kDirectory | platform::kSystem))) {
          total += static_cast<int64_t>(info->size);
        }
      } catch (...) {
        // A file that cannot be read counts nothing toward the total, as one
        // that vanished between the listing and the look.
      }
    }
  }
  return total;
}

}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "gateway/UploadRoot.h"

#include <vector>

#include "platform/FileSystem.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

using Levels = std::vector<std::string>;

// The levels of a path with "." dropped and ".." taking back the level
// before it; nullopt when ".." would climb above the first level.
std::optional<Levels> NormalLevels(std::string_view path) {
  Levels levels;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view level = path.substr(start, slash - start);
    start = slash + 1;
    if (level.empty() || level == ".") continue;
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

bool IsInside(std::string_view path, std::string_view root) {
  if (root == "/") return !path.empty() && path.front() == '/';
  return path == root ||
         (path.size() > root.size() && path.substr(0, root.size()) == root &&
          path[root.size()] == '/');
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

// Whether the deepest level of `path` that exists resolves inside the
// root; a dangling symbolic link does not resolve and fails.
bool ExistingPartInside(const std::string& real_root, const Levels& levels) {
  size_t existing = levels.size();
  while (existing > 0 &&
         !platform::PathEntryExists(Joined(real_root, levels, existing))) {
    --existing;
  }
  auto real = platform::RealPath(Joined(real_root, levels, existing));
  return real && IsInside(*real, real_root);
}

}  // namespace

std::optional<std::string> ConfinedUploadDirectory(std::string_view root,
                                                   std::string_view requested) {
  if (root.empty() || root.front() != '/') return std::nullopt;
  auto real_root = platform::RealPath(root);
  if (!real_root) return std::nullopt;
  std::string wanted(requested);
  for (char& c : wanted) {
    if (c == '\\') c = '/';
  }
  if (wanted.empty()) return std::nullopt;
  auto levels = LevelsBelowRoot(root, *real_root, wanted);
  if (!levels || !ExistingPartInside(*real_root, *levels)) return std::nullopt;
  std::string directory = Joined(*real_root, *levels, levels->size());
  if (cargane::CreateFullPath(directory).empty()) return std::nullopt;
  // Checked again once it exists, in case a level changed meanwhile.
  auto real = platform::RealPath(directory);
  if (!real || !IsInside(*real, *real_root)) return std::nullopt;
  return cargane::AddBackslash(*real);
}

}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "web/DataDirectory.h"

#include "platform/FileSystem.h"

namespace corvane::web {
namespace {

std::string Shown(std::string_view relative) {
  return "\"" + std::string(relative) + "\"";
}

[[noreturn]] void RefuseLinkOut(std::string_view relative) {
  throw PathRefused(403, "Refused: " + Shown(relative) +
                             " is a symbolic link that leads out of the "
                             "data directory.");
}

}  // namespace

DataDirectory::DataDirectory(const std::string& directory) {
  auto real = platform::RealPath(directory);
  if (!real) {
    throw PathRefused(
        500, "The data directory " + Shown(directory) + " cannot be found.");
  }
  root_ = *real;
}

std::vector<std::string> DataDirectory::Levels(std::string_view relative) {
  if (relative.find('\0') != std::string_view::npos) {
    throw PathRefused(400, "Refused: a path may not hold a NUL byte.");
  }
  if (!relative.empty() && relative.front() == '/') {
    throw PathRefused(403, "Refused: " + Shown(relative) +
                               " is an absolute path; paths are taken "
                               "inside the data directory.");
  }
  std::vector<std::string> levels;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string_view::npos) slash = relative.size();
    std::string_view level = relative.substr(start, slash - start);
    start = slash + 1;
    if (level.empty() || level == ".") continue;
    if (level == "..") {
      throw PathRefused(403, "Refused: " + Shown(relative) +
                                 " climbs with \"..\"; paths stay inside "
                                 "the data directory.");
    }
    levels.emplace_back(level);
  }
  return levels;
}

std::string DataDirectory::Joined(const std::vector<std::string>& levels) {
  std::string path;
  for (const auto& level : levels) {
    if (!path.empty()) path += '/';
    path += level;
  }
  return path;
}

bool DataDirectory::Inside(std::string_view real_path) const {
  if (root_ == "/") return !real_path.empty() && real_path.front() == '/';
  return real_path == root_ || (real_path.size() > root_.size() &&
                                real_path.substr(0, root_.size()) == root_ &&
                                real_path[root_.size()] == '/');
}

platform::HeldPath DataDirectory::Hold(std::string_view relative) const {
  auto levels = Levels(relative);
  std::string path = Joined(levels);
  auto real = platform::RealPath(root_ + "/" + path);
  if (!real) {
    throw PathRefused(404, "No file or directory is named " + Shown(path) +
                               " in the data directory.");
  }
  if (!Inside(*real)) RefuseLinkOut(path);
  // The real path holds no link; opening it level by level without
  // following links fails if one was swapped in since.
  std::string below = real->substr(root_.size());
  if (!below.empty() && below.front() == '/') below.erase(0, 1);
  auto held = platform::HeldPath::OpenBelow(root_, Levels(below));
  if (!held) {
    throw PathRefused(409, Shown(path) +
                               " is neither a directory nor a regular file, "
                               "or it changed while it was being opened.");
  }
  return std::move(*held);
}

platform::HeldPath DataDirectory::HoldDirectory(
    std::string_view relative) const {
  auto held = Hold(relative);
  if (!held.IsDirectory()) {
    throw PathRefused(
        400, Shown(Joined(Levels(relative))) + " is a file, not a directory.");
  }
  return held;
}

NamedEntry DataDirectory::HoldEntry(std::string_view relative) const {
  auto levels = Levels(relative);
  if (levels.empty()) {
    throw PathRefused(400, "The data directory itself is not an entry.");
  }
  std::string name = levels.back();
  levels.pop_back();
  NamedEntry entry{HoldDirectory(Joined(levels)), std::move(name)};
  if (entry.parent.IsLink(entry.name) && LeadsOut(entry.parent, entry.name)) {
    levels.push_back(entry.name);
    RefuseLinkOut(Joined(levels));
  }
  return entry;
}

bool DataDirectory::LeadsOut(const platform::HeldPath& directory,
                             std::string_view name) const {
  auto real = platform::RealPath(directory.Path() + "/" + std::string(name));
  return !real || !Inside(*real);
}

}  // namespace corvane::web

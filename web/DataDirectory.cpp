// SPDX-License-Identifier: Apache-2.0
#include "web/DataDirectory.h"

#include "platform/Failure.h"

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

platform::RootHandle OpenRoot(const std::string& directory) {
  try {
    return platform::RootHandle(directory);
  } catch (const Failure&) {
    throw PathRefused(
        500, "The data directory " + Shown(directory) + " cannot be found.");
  }
}

}  // namespace

DataDirectory::DataDirectory(const std::string& directory)
    : root_(OpenRoot(directory)) {}

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
  for (std::string_view level : platform::PathLevels(relative)) {
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

platform::HeldPath DataDirectory::Hold(std::string_view relative) const {
  std::string path = Joined(Levels(relative));
  switch (root_.Where(path)) {
    case platform::Reach::kNothing:
      throw PathRefused(404, "No file or directory is named " + Shown(path) +
                                 " in the data directory.");
    case platform::Reach::kOutside:
      RefuseLinkOut(path);
    case platform::Reach::kInside:
      break;
  }
  // Opened through the root handle: a level swapped since the look for a
  // link that leads out is refused, as is anything but a directory or a
  // regular file.
  try {
    return root_.Open(path);
  } catch (const Failure&) {
    throw PathRefused(409, Shown(path) +
                               " is neither a directory nor a regular file, "
                               "or it changed while it was being opened.");
  }
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
  try {
    auto below = root_.Locate(directory);
    if (!below) return true;
    std::string path(name);
    if (!below->empty()) path = *below + "/" + path;
    return root_.Where(path) != platform::Reach::kInside;
  } catch (const Failure&) {
    // Where the link leads cannot be told: it counts as leading out, so
    // that nothing it names is shown or used.
    return true;
  }
}

}  // namespace corvane::web

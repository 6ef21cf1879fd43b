// SPDX-License-Identifier: Apache-2.0
#include "platform/RootedFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/Descriptor.h"
#include "platform/Failure.h"
#include "platform/FileOps.h"
#include "platform/FilePaths.h"

namespace corvane::platform {
namespace {

// `path` below the root: checked as the system takes it (a NUL or a level
// too long is refused, naming `path`) and without its leading "/".
std::string Below(std::string_view path) {
  std::string below = SystemPath(path);
  below.erase(0, below.find_first_not_of('/'));
  if (below.find_first_not_of('/') == std::string::npos) below.clear();
  return below;
}

// A failure of the root handle, which named `passed`, made to name `given`
// (the path the caller knows) with the rest of its text kept.
Failure Naming(const Failure& failure, std::string_view passed,
               std::string_view given) {
  Failure named = failure;
  std::string standard = StandardErrorText(failure.number) + ": ";
  std::string prefix = standard + (passed.empty() ? "." : std::string(passed));
  std::string rest;
  if (failure.description.starts_with(prefix)) {
    rest = failure.description.substr(prefix.size());
  }
  named.description = standard + std::string(given) + rest;
  return named;
}

HeldPath HeldBelow(const RootHandle& root, std::string_view given,
                   const std::string& below) {
  try {
    return root.Open(below);
  } catch (const Failure& failure) {
    throw Naming(failure, below, given);
  }
}

HeldPath Held(const RootHandle& root, std::string_view given) {
  return HeldBelow(root, given, Below(given));
}

struct Place {
  HeldPath directory;
  std::string name;
  int fd() const { return directory.Fd(); }
};

// The directory holding the last level of `given`, held open, and that
// level's name. A path that ends in "." or ".." (or names the root) is
// the directory it leads to, links followed, with the name ".".
Place PlaceOf(const RootHandle& root, std::string_view given) {
  std::string below = Below(given);
  auto levels = PathLevels(below);
  std::string_view end(below);
  while (!end.empty() && end.back() == '/') end.remove_suffix(1);
  end = end.substr(end.rfind('/') + 1);
  if (levels.empty() || end == "." || end == "..") {
    HeldPath itself = HeldBelow(root, given, below);
    if (!itself.IsDirectory())
      throw FailureFromErrno(ENOTDIR, std::string(given));
    return {std::move(itself), "."};
  }
  std::string parent;
  for (size_t level = 0; level + 1 < levels.size(); ++level) {
    if (!parent.empty()) parent += '/';
    parent += levels[level];
  }
  HeldPath directory = HeldBelow(root, given, parent);
  if (!directory.IsDirectory()) {
    throw FailureFromErrno(ENOTDIR, std::string(given));
  }
  return {std::move(directory), std::string(levels.back())};
}

// Whether a failure says nothing is there (a level missing or no
// directory), which Stat and Find answer with nothing rather than throw.
bool NothingThere(const Failure& failure) {
  return failure.number == kFileNotFound || failure.number == kPathNotFound;
}

std::string Joined(const std::string& directory, std::string_view name) {
  return directory.empty() ? std::string(name)
                           : directory + "/" + std::string(name);
}

// Names the unnamed file `fd` `path` below the root.
void LinkBelow(const RootHandle& root, int fd, std::string_view path) {
  Place place = PlaceOf(root, path);
  LinkUnnamedFile(fd, place.fd(), place.name, path);
}

// Creates `to` (which must not exist) below the root with a copy of the
// open regular file `from_fd`; see CopyInto.
void CopyOpenFile(const RootHandle& root, int from_fd, std::string_view from,
                  std::string_view to) {
  struct stat source = RegularSource(from_fd, from);
  Place place = PlaceOf(root, to);
  CopyInto(from_fd, source,
           CopyTarget{place.fd(), ".", place.name, std::string(to)});
}

// Copies out of a directory below the root into the same root.
CopyOut CopyBelow(const RootHandle& root) {
  return [&root](Descriptor in, std::string_view from, std::string_view to) {
    CopyOpenFile(root, in.Get(), from, to);
  };
}

// A second descriptor of what `held` holds, for an object that outlives it.
int Duplicate(const HeldPath& held, std::string_view shown) {
  int fd = ::fcntl(held.Fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) ThrowErrno(shown);
  return fd;
}

}  // namespace

std::vector<FileInfo> RootedFileSystem::Find(std::string_view pattern) {
  if (pattern.empty()) return {};
  SystemPath(pattern);
  size_t slash = pattern.rfind('/');
  std::string directory_part = slash == std::string_view::npos
                                   ? ""
                                   : std::string(pattern.substr(0, slash + 1));
  std::string name_pattern(
      slash == std::string_view::npos ? pattern : pattern.substr(slash + 1));
  if (name_pattern.empty() || name_pattern == "*.*") name_pattern = "*";
  std::string below = Below(directory_part);
  std::optional<HeldPath> directory;
  try {
    directory.emplace(HeldBelow(root_, directory_part, below));
  } catch (const Failure&) {
    return {};  // a directory that cannot be read lists nothing
  }
  if (!directory->IsDirectory()) return {};
  int fd = directory->Fd();
  std::vector<FileInfo> found;
  struct statx st;
  if (NameMatches(name_pattern, ".") && StatAt(fd, ".", 0, st)) {
    found.push_back(InfoFromStat(".", st));
  }
  if (NameMatches(name_pattern, "..")) {
    // Above the root is the root itself: nothing outside is looked at.
    struct stat here;
    struct stat top;
    HeldPath root = root_.Open("");
    bool at_root = ::fstat(fd, &here) == 0 && ::fstat(root.Fd(), &top) == 0 &&
                   here.st_dev == top.st_dev && here.st_ino == top.st_ino;
    if (StatAt(fd, at_root ? "." : "..", 0, st)) {
      found.push_back(InfoFromStat("..", st));
    }
  }
  DirectoryStream dir = StreamOf(fd);
  if (!dir) return found;
  while (struct dirent* entry = ::readdir(dir.get())) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        !NameMatches(name_pattern, name) ||
        !StatAt(fd, name, AT_SYMLINK_NOFOLLOW, st)) {
      continue;
    }
    if (!S_ISLNK(st.stx_mode)) {
      found.push_back(InfoFromStat(name, st));
      continue;
    }
    // A link shows what it names while that stays below the root, itself
    // when it leads out; one that leads nowhere is passed over.
    try {
      HeldPath target = root_.Open(Joined(below, name));
      if (StatAt(target.Fd(), "", AT_EMPTY_PATH, st)) {
        found.push_back(InfoFromStat(name, st));
      }
    } catch (const Failure& failure) {
      if (!NothingThere(failure) && failure.number != kBadFileName) {
        found.push_back(InfoFromStat(name, st));
      }
    }
  }
  return found;
}

std::optional<FileInfo> RootedFileSystem::Stat(std::string_view path) {
  if (path.empty()) return std::nullopt;
  std::optional<Place> place;
  try {
    place.emplace(PlaceOf(root_, path));
  } catch (const Failure& failure) {
    if (NothingThere(failure)) return std::nullopt;
    throw;
  }
  struct statx st;
  if (!StatAt(place->fd(), place->name.c_str(), AT_SYMLINK_NOFOLLOW, st)) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(path);
  }
  if (S_ISLNK(st.stx_mode)) {
    std::optional<HeldPath> target;
    try {
      target.emplace(Held(root_, path));
    } catch (const Failure& failure) {
      if (NothingThere(failure)) return std::nullopt;
      throw;
    }
    if (!StatAt(target->Fd(), "", AT_EMPTY_PATH, st)) ThrowErrno(path);
  }
  return InfoFromStat(LastComponent(path), st);
}

std::string RootedFileSystem::ReadFile(std::string_view path) {
  HeldPath held = Held(root_, path);
  return ReadToEnd(Descriptor(Duplicate(held, path)));
}

std::unique_ptr<FileReader> RootedFileSystem::OpenReader(
    std::string_view path) {
  HeldPath held = Held(root_, path);
  return std::make_unique<DescriptorReader>(Descriptor(Duplicate(held, path)));
}

std::unique_ptr<FileWriter> RootedFileSystem::OpenWriter(std::string_view path,
                                                         WriteMode mode) {
  std::string shown(path);
  if (mode == WriteMode::kUnnamed) {
    Place place = PlaceOf(root_, path);
    Descriptor fd = OpenUnnamed(place.fd(), ".", 0666, path);
    if (fd.Get() < 0) throw FailureFromErrno(EOPNOTSUPP, shown);
    const RootHandle& root = root_;
    return std::make_unique<DescriptorWriter>(
        std::move(fd), shown,
        [&root](int fd, std::string_view to) { LinkBelow(root, fd, to); });
  }
  std::string below = Below(path);
  std::optional<HeldPath> held;
  try {
    held.emplace(root_.OpenForWriting(below, mode == WriteMode::kCreateNew));
  } catch (const Failure& failure) {
    throw Naming(failure, below, path);
  }
  Descriptor fd(Duplicate(*held, path));
  if (mode == WriteMode::kCreate && ::ftruncate(fd.Get(), 0) != 0) {
    ThrowErrno(path);
  }
  if (mode == WriteMode::kAppend) {
    int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags | O_APPEND) != 0) {
      ThrowErrno(path);
    }
  }
  return std::make_unique<DescriptorWriter>(std::move(fd), shown);
}

void RootedFileSystem::Rename(std::string_view from, std::string_view to) {
  Place source = PlaceOf(root_, from);
  Place target = PlaceOf(root_, to);
  if (::renameat(source.fd(), source.name.c_str(), target.fd(),
                 target.name.c_str()) != 0) {
    ThrowErrno(from);
  }
}

void RootedFileSystem::Remove(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::unlinkat(place.fd(), place.name.c_str(), 0) != 0) ThrowErrno(path);
}

void RootedFileSystem::CreateDirectory(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::mkdirat(place.fd(), place.name.c_str(), 0777) != 0) ThrowErrno(path);
}

void RootedFileSystem::RemoveDirectory(std::string_view path) {
  Place place = PlaceOf(root_, path);
  if (::unlinkat(place.fd(), place.name.c_str(), AT_REMOVEDIR) != 0) {
    ThrowErrno(path);
  }
}

void RootedFileSystem::SetAttributes(std::string_view path,
                                     uint32_t attributes) {
  CheckSettable(Stat(path), path, attributes);
  HeldPath held = Held(root_, path);
  struct stat st;
  if (::fstat(held.Fd(), &st) != 0) ThrowErrno(path);
  if (::fchmod(held.Fd(), ModeWithAttributes(st.st_mode, attributes)) != 0) {
    ThrowErrno(path);
  }
}

uint64_t RootedFileSystem::FreeSpace(std::string_view path) {
  HeldPath held = Held(root_, path);
  struct statvfs vfs;
  if (::fstatvfs(held.Fd(), &vfs) != 0) ThrowErrno(path);
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string RootedFileSystem::TemporaryName(std::string_view directory,
                                            std::string_view prefix) {
  return FreeTemporaryName(directory, prefix, [this](const std::string& name) {
    Place place = PlaceOf(root_, name);
    struct stat st;
    if (::fstatat(place.fd(), place.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) ==
        0) {
      return true;
    }
    if (errno == ENOENT) return false;
    ThrowErrno(name);
  });
}

std::unique_ptr<DirectoryHandle> RootedFileSystem::OpenDirectory(
    std::string_view path) {
  Place place = PlaceOf(root_, path);
  Descriptor fd(::openat(place.fd(), place.name.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  std::string shown(path);
  while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  if (shown.empty() || shown.back() != '/') shown += '/';
  return MakeDirectoryHandle(std::move(fd), shown, CopyBelow(root_));
}

void RootedFileSystem::RemoveUnlessReadOnly(std::string_view path) {
  Place place = PlaceOf(root_, path);
  UnlinkUnlessReadOnly(place.fd(), place.name, {}, path);
}

void RootedFileSystem::RenameNoReplace(std::string_view from,
                                       std::string_view to) {
  Place source = PlaceOf(root_, from);
  Place target = PlaceOf(root_, to);
  RenameWithoutReplacing(source.fd(), source.name, target.fd(), target.name,
                         from);
}

void RootedFileSystem::CopyFileData(std::string_view from,
                                    std::string_view to) {
  HeldPath held = Held(root_, from);
  CopyOpenFile(root_, held.Fd(), from, to);
}

std::string RootedFileSystem::ReadRegularFile(std::string_view path,
                                              uint64_t limit) {
  HeldPath held = Held(root_, path);
  if (held.IsDirectory()) throw FailureFromErrno(EISDIR, std::string(path));
  return ReadRegular(held.Fd(), path, limit);
}

bool RootedFileSystem::EntryExists(std::string_view path) {
  // A path the root refuses, or that cannot be reached, names nothing.
  try {
    Place place = PlaceOf(root_, path);
    struct stat st;
    return ::fstatat(place.fd(), place.name.c_str(), &st,
                     AT_SYMLINK_NOFOLLOW) == 0;
  } catch (const Failure&) {
    return false;
  }
}

}  // namespace corvane::platform

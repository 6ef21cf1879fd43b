// SPDX-License-Identifier: Apache-2.0
// The POSIX file system: PosixFileSystem's members.
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
#include "platform/FileSystem.h"

namespace corvane::platform {
namespace {

// Splits a search pattern into the directory to open and the name pattern.
struct SearchPattern {
  std::string directory;  // "" means the current directory
  std::string name;
};

SearchPattern SplitPattern(std::string_view pattern) {
  SearchPattern split;
  size_t slash = pattern.rfind('/');
  if (slash == std::string_view::npos) {
    split.name = PathText(pattern);
  } else {
    split.directory = PathText(pattern.substr(0, slash + 1));
    split.name = PathText(pattern.substr(slash + 1));
  }
  // A trailing separator lists the directory's contents; "*.*" matches every
  // name, dotted or not, as find-first does.
  if (split.name.empty() || split.name == "*.*") split.name.assign(1, '*');
  return split;
}

// The state of `path`, relative to the open directory `directory_fd` (or
// the current directory), following a final link.
bool StatPath(const std::string& path, struct statx& st,
              int directory_fd = AT_FDCWD) {
  return StatAt(directory_fd, path.c_str(), 0, st);
}

Descriptor OpenForReading(std::string_view path) {
  Descriptor fd(::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  return fd;
}

// Names the unnamed file `fd` `path`, relative to the current directory.
void LinkAtPath(int fd, std::string_view path) {
  std::string name = SystemPath(path);
  LinkUnnamedFile(fd, AT_FDCWD, name, name);
}

// Copies the regular file `in` to the path `to`.
void CopyOpenFile(Descriptor in, std::string_view from, std::string_view to) {
  struct stat source = RegularSource(in.Get(), from);
  CopyTarget target;
  target.name = SystemPath(to);
  target.directory = DirectoryPart(target.name);
  target.shown = target.name;
  CopyInto(in.Get(), source, target);
}

}  // namespace

std::vector<FileInfo> PosixFileSystem::Find(std::string_view pattern) {
  // An empty path names nothing (not the current directory).
  if (pattern.empty()) return {};
  SystemPath(pattern);
  SearchPattern split = SplitPattern(pattern);
  std::string directory = split.directory.empty() ? "./" : split.directory;
  std::vector<FileInfo> found;
  DirectoryStream dir(::opendir(directory.c_str()));
  if (!dir) return found;
  // Each entry is looked up in the open directory: no walk of the whole
  // path per entry.
  int directory_fd = ::dirfd(dir.get());
  auto add = [&](const char* name) {
    struct statx st;
    if (NameMatches(split.name, name) && StatPath(name, st, directory_fd)) {
      found.push_back(InfoFromStat(name, st));
    }
  };
  add(".");
  add("..");
  while (struct dirent* entry = ::readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") == 0 ||
        std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    add(entry->d_name);
  }
  return found;
}

std::optional<FileInfo> PosixFileSystem::Stat(std::string_view path) {
  struct statx st;
  if (path.empty()) return std::nullopt;
  if (!StatPath(SystemPath(path), st)) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowErrno(path);
  }
  return InfoFromStat(LastComponent(path), st);
}

std::string PosixFileSystem::ReadFile(std::string_view path) {
  return ReadToEnd(OpenForReading(path));
}

std::unique_ptr<FileReader> PosixFileSystem::OpenReader(std::string_view path) {
  return std::make_unique<DescriptorReader>(OpenForReading(path));
}

std::unique_ptr<FileWriter> PosixFileSystem::OpenWriter(std::string_view path,
                                                        WriteMode mode) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  switch (mode) {
    case WriteMode::kCreate:
      flags |= O_TRUNC;
      break;
    case WriteMode::kCreateNew:
      flags |= O_EXCL;
      break;
    case WriteMode::kAppend:
      flags |= O_APPEND;
      break;
    case WriteMode::kUnnamed: {
      Descriptor fd =
          OpenUnnamed(AT_FDCWD, DirectoryPart(SystemPath(path)), 0666, path);
      if (fd.Get() < 0) throw FailureFromErrno(EOPNOTSUPP, PathText(path));
      return std::make_unique<DescriptorWriter>(std::move(fd), PathText(path),
                                                LinkAtPath);
    }
  }
  Descriptor fd(::open(SystemPath(path).c_str(), flags, 0666));
  if (fd.Get() < 0) ThrowErrno(path);
  return std::make_unique<DescriptorWriter>(std::move(fd), PathText(path));
}

void PosixFileSystem::Rename(std::string_view from, std::string_view to) {
  if (::rename(SystemPath(from).c_str(), SystemPath(to).c_str()) != 0) {
    ThrowErrno(from);
  }
}

void PosixFileSystem::Remove(std::string_view path) {
  if (::unlink(SystemPath(path).c_str()) != 0) ThrowErrno(path);
}

void PosixFileSystem::CreateDirectory(std::string_view path) {
  if (::mkdir(SystemPath(path).c_str(), 0777) != 0) ThrowErrno(path);
}

void PosixFileSystem::RemoveDirectory(std::string_view path) {
  if (::rmdir(SystemPath(path).c_str()) != 0) ThrowErrno(path);
}

void PosixFileSystem::SetAttributes(std::string_view path,
                                    uint32_t attributes) {
  CheckSettable(Stat(path), path, attributes);
  struct stat st;
  std::string name = SystemPath(path);
  if (::stat(name.c_str(), &st) != 0) ThrowErrno(path);
  if (::chmod(name.c_str(), ModeWithAttributes(st.st_mode, attributes)) != 0) {
    ThrowErrno(path);
  }
}

uint64_t PosixFileSystem::FreeSpace(std::string_view path) {
  struct statvfs vfs;
  if (::statvfs(SystemPath(path).c_str(), &vfs) != 0) ThrowErrno(path);
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

std::string PosixFileSystem::TemporaryName(std::string_view directory,
                                           std::string_view prefix) {
  return FreeTemporaryName(directory, prefix, [](const std::string& name) {
    struct stat st;
    if (::lstat(SystemPath(name).c_str(), &st) == 0) return true;
    if (errno == ENOENT) return false;
    ThrowErrno(name);
  });
}

std::unique_ptr<DirectoryHandle> PosixFileSystem::OpenDirectory(
    std::string_view path) {
  std::string text = SystemPath(path);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  Descriptor fd(
      ::open(text.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  if (text.back() != '/') text += '/';
  return MakeDirectoryHandle(std::move(fd), text, CopyOpenFile);
}

void PosixFileSystem::RemoveUnlessReadOnly(std::string_view path) {
  std::string name = SystemPath(path);
  UnlinkUnlessReadOnly(AT_FDCWD, name, {}, name);
}

void PosixFileSystem::RenameNoReplace(std::string_view from,
                                      std::string_view to) {
  std::string old_name = SystemPath(from);
  std::string new_name = SystemPath(to);
  RenameWithoutReplacing(AT_FDCWD, old_name, AT_FDCWD, new_name, from);
}

void PosixFileSystem::CopyFileData(std::string_view from, std::string_view to) {
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  Descriptor fd(
      ::open(SystemPath(from).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(from);
  CopyOpenFile(std::move(fd), from, to);
}

std::string PosixFileSystem::ReadRegularFile(std::string_view path,
                                             uint64_t limit) {
  Descriptor fd(
      ::open(SystemPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.Get() < 0) ThrowErrno(path);
  return ReadRegular(fd.Get(), path, limit);
}

bool PosixFileSystem::EntryExists(std::string_view path) {
  // A path the system cannot take (a NUL, a level too long) names nothing.
  std::string system_path;
  try {
    system_path = SystemPath(path);
  } catch (const Failure&) {
    return false;
  }
  struct stat st;
  return ::lstat(system_path.c_str(), &st) == 0;
}

}  // namespace corvane::platform

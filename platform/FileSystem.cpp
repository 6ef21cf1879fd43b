// SPDX-License-Identifier: Apache-2.0
#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>

#include "platform/Failure.h"
#include "platform/FilePaths.h"

namespace corvane::platform {
namespace {

constexpr int64_t kSecondsFrom1601To1970 = 11644473600LL;

FileSystem* current_file_system = nullptr;
thread_local FileSystem* thread_file_system = nullptr;

}  // namespace

void FileWriter::LinkAs(std::string_view) {
  throw StandardFailure(kInvalidCall);
}

int64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  return (seconds + kSecondsFrom1601To1970) * 10000000LL + nanoseconds / 100;
}

std::string SystemPath(std::string_view path) {
  // The system reads a path up to its first NUL: a path holding one would
  // name a shorter path than the caller gave.
  if (path.find('\0') != std::string_view::npos) {
    Failure failure = StandardFailure(kBadFileName);
    failure.description += ": " + PathText(path);
    throw failure;
  }
  // A level or a path longer than the system takes is refused here, so
  // that a search, which passes over names it cannot open, reports it too.
  bool too_long = path.size() >= PATH_MAX;
  for (size_t start = 0; !too_long && start < path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    too_long = end - start > NAME_MAX;
    start = end + 1;
  }
  if (too_long) throw FailureFromErrno(ENAMETOOLONG, PathText(path));
  return std::string(path);
}

FileSystem& Files() {
  static PosixFileSystem posix;
  if (thread_file_system != nullptr) return *thread_file_system;
  return current_file_system ? *current_file_system : posix;
}

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement)
    : previous_(current_file_system) {
  current_file_system = &replacement;
}

ScopedFileSystem::~ScopedFileSystem() { current_file_system = previous_; }

ScopedThreadFileSystem::ScopedThreadFileSystem(FileSystem& replacement)
    : previous_(thread_file_system) {
  thread_file_system = &replacement;
}

ScopedThreadFileSystem::~ScopedThreadFileSystem() {
  thread_file_system = previous_;
}

namespace {
bool AnyMatch(std::string_view pattern, uint32_t excluded) {
  for (const FileInfo& entry : Files().Find(pattern)) {
    if ((entry.attributes & excluded) == 0) return true;
  }
  return false;
}
}  // namespace

bool FileMatchExists(std::string_view pattern) {
  return AnyMatch(pattern, kDirectory | kHidden | kSystem);
}

bool DirectoryMatchExists(std::string_view pattern) {
  return AnyMatch(pattern, kHidden | kSystem);
}

bool PathEntryExists(std::string_view path) {
  return Files().EntryExists(path);
}

}  // namespace corvane::platform

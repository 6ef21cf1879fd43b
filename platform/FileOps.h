// SPDX-License-Identifier: Apache-2.0
// The operations on open descriptors that the POSIX and the rooted file
// systems share: file facts from statx, name matching, readers and writers
// over a descriptor, directory handles, removal inside an open directory,
// the kernel copy, the bounded whole-file read and naming a file made
// without a name. Each takes a directory descriptor (AT_FDCWD for the
// POSIX file system) and a name relative to it, and the path that failures
// name. For platform/ only.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/FileSystem.h"

namespace corvane::platform {

// An open directory stream, closed with its descriptor when it goes.
struct CloseDirectory {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirectoryStream = std::unique_ptr<DIR, CloseDirectory>;

// A stream over a copy of the open directory `fd`, from its first entry, so
// that each listing starts afresh and `fd` stays usable; null (errno set)
// when none can be made. Never throws.
DirectoryStream StreamOf(int fd);

// Read-only as the components know it: the owner's write bit is clear.
bool IsReadOnlyMode(mode_t mode);

// The statx facts of `name` relative to `directory_fd` (`flags` as statx
// takes them); false with errno set when they cannot be had.
bool StatAt(int directory_fd, const char* name, int flags, struct statx& st);

// The entry `name` as a search or Stat reports it. Never fails.
FileInfo InfoFromStat(std::string name, const struct statx& st);

// Whether `name` matches the search pattern: only `*` and `?` are
// wildcards; `[`, `]` and `\` match themselves. Never fails.
bool NameMatches(const std::string& pattern, const char* name);

// Reads an open file; Read and Seek throw Failure without a path.
class DescriptorReader : public FileReader {
 public:
  explicit DescriptorReader(Descriptor fd) : fd_(std::move(fd)) {}
  size_t Read(char* buffer, size_t count) override;
  void Seek(uint64_t offset) override;

 private:
  Descriptor fd_;
};

// The rest of the open file `fd`, read to its end. Throws Failure.
std::string ReadToEnd(Descriptor fd);

// Writes an open file; failures name `shown`. A file made without a name
// (`link` given) stays open after Close until LinkAs names it through
// `link`, which is handed the descriptor and the new path.
class DescriptorWriter : public FileWriter {
 public:
  using Linker = std::function<void(int fd, std::string_view path)>;
  DescriptorWriter(Descriptor fd, std::string shown, Linker link = {})
      : fd_(std::move(fd)), shown_(std::move(shown)), link_(std::move(link)) {}
  void Write(std::string_view data) override;
  void Close() override;
  void LinkAs(std::string_view path) override;

 private:
  Descriptor fd_;
  std::string shown_;
  Linker link_;  // empty once the file has a name
};

// A file without a name in the directory `directory` (relative to
// `directory_fd`), with the permission bits `mode`; nothing held (errno
// set) when the file system cannot make one. Other failures throw, naming
// `shown`.
Descriptor OpenUnnamed(int directory_fd, const std::string& directory,
                       mode_t mode, std::string_view shown);

// Gives the unnamed file open as `fd` the name `name` relative to
// `directory_fd` (which must not exist): directly where the process may,
// else through the descriptor's /proc entry (which the kernel follows to
// the open file, never to a path). Throws Failure naming `shown`.
void LinkUnnamedFile(int fd, int directory_fd, const std::string& name,
                     std::string_view shown);

// Why `name` relative to `directory_fd` may not be removed as a file: the
// errno of its look-up, EISDIR for a directory, EACCES for a read-only file
// (a link is never read-only); 0 when it may.
int FileRemovalRefusal(int directory_fd, const char* name);

// Removes `name` relative to `directory_fd` unless it is a directory or a
// read-only file (a link is removed as a link); the delete refuses
// read-only files as the original platform does, for every user including
// root. A failure names `shown_folder` + `shown_name`, put together only
// then, since a tree's removal calls this for every file. Throws Failure.
void UnlinkUnlessReadOnly(int directory_fd, const std::string& name,
                          std::string_view shown_folder,
                          std::string_view shown_name);

// Renames `from_name` to `to_name` (each relative to its directory),
// refusing an existing `to_name` (58); a file system without the kernel's
// flag moves a file by a link and the removal of the old name. Throws
// Failure naming `shown`.
void RenameWithoutReplacing(int from_fd, const std::string& from_name,
                            int to_fd, const std::string& to_name,
                            std::string_view shown);

// The facts of the open file `in` when it is a regular file; anything else
// is refused (75), naming `from`. Throws Failure.
struct stat RegularSource(int in, std::string_view from);

// Where a copy goes: `name` relative to `directory_fd`, in the directory
// `directory` (relative to `directory_fd` as well); `shown` is the path
// failures name.
struct CopyTarget {
  int directory_fd = AT_FDCWD;
  std::string directory;
  std::string name;
  std::string shown;
};

// Creates the target (which must not exist) with the bytes of the regular
// file `in` whose facts `source` gives (see RegularSource), its permission
// bits and write time, copied by the kernel: a clone where the file system
// shares blocks, else copy_file_range, else reads and writes. The copy is
// made without a name and linked in once complete, so the name never shows
// a partial copy; where the file system cannot do that, a partial copy is
// removed again. Throws Failure naming the target.
void CopyInto(int in, const struct stat& source, const CopyTarget& target);

// The whole content of the open file `fd` when it is a regular file: a
// directory (EISDIR) or anything else (EACCES, "not a regular file") is
// refused at once (75), naming `shown`; a file longer than `limit` bytes,
// or one that grows past it while read, fails with 6. Throws Failure.
std::string ReadRegular(int fd, std::string_view shown, uint64_t limit);

// Refuses (5) attributes that `current` (the path's state; 53 naming
// `path` when missing) cannot be given: only read-only and archive may
// change, the other bits only as they are. Throws Failure.
void CheckSettable(const std::optional<FileInfo>& current,
                   std::string_view path, uint32_t attributes);

// `mode` with the owner's write bit set, or every write bit cleared, as
// `attributes` holds read-only or not. Never fails.
mode_t ModeWithAttributes(mode_t mode, uint32_t attributes);

// A name in `directory` beginning with `prefix` that `taken` says is free;
// `taken` answers true for a name in use, false for a free one and throws
// for any other failure. Only a taken name is tried again, a bounded
// number of times (then 58, naming the last).
std::string FreeTemporaryName(
    std::string_view directory, std::string_view prefix,
    const std::function<bool(const std::string& name)>& taken);

// Copies the regular file `in` (named `from` in failures) to the path `to`
// as the file system that made the handle places it. Throws Failure.
using CopyOut = std::function<void(Descriptor in, std::string_view from,
                                   std::string_view to)>;

// The directory open as `fd` as a handle; `shown` (ending in '/') is put
// before an entry's name in the handle's failures, and `copy_out` makes
// CopyFileOut's copies (its subdirectories use it too). Never fails.
std::unique_ptr<DirectoryHandle> MakeDirectoryHandle(Descriptor fd,
                                                     std::string shown,
                                                     CopyOut copy_out);

}  // namespace corvane::platform

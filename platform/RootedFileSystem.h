// SPDX-License-Identifier: Apache-2.0
// A file system whose every path lies below a root directory held open: a
// component driven through it (installed for a thread with
// ScopedThreadFileSystem) names paths as a person sees them inside the
// root, and nothing it does reaches outside that root.
#pragma once

#include <string>
#include <string_view>

#include "platform/Export.h"
#include "platform/FileSystem.h"
#include "platform/RootHandle.h"

namespace corvane::platform {

// Every path is taken below `root`, whether or not it begins with "/" ("/"
// and "" name the root itself, "/docs/a.txt" and "docs/a.txt" the same
// file): ".." above the root, a symbolic link that leads out and a /proc
// link are refused (75, naming the path as given) as RootHandle refuses
// them. The directory holding each path's last level is reached through
// the root handle and the work is done relative to its descriptor; a link
// at the last level is followed only where the POSIX file system follows
// it, and only while it stays below the root. A listing shows a link that
// leads out as the link itself (a system entry), never what it names.
// Failures carry the numbers and texts of the POSIX file system and name
// the path as given.
class CORVANE_API RootedFileSystem : public FileSystem {
 public:
  // `root` must outlive this object.
  explicit RootedFileSystem(const RootHandle& root) : root_(root) {}

  std::vector<FileInfo> Find(std::string_view pattern) override;
  std::optional<FileInfo> Stat(std::string_view path) override;
  std::string ReadFile(std::string_view path) override;
  std::unique_ptr<FileReader> OpenReader(std::string_view path) override;
  std::unique_ptr<FileWriter> OpenWriter(std::string_view path,
                                         WriteMode mode) override;
  void Rename(std::string_view from, std::string_view to) override;
  void Remove(std::string_view path) override;
  void CreateDirectory(std::string_view path) override;
  void RemoveDirectory(std::string_view path) override;
  void SetAttributes(std::string_view path, uint32_t attributes) override;
  uint64_t FreeSpace(std::string_view path) override;
  std::string TemporaryName(std::string_view directory,
                            std::string_view prefix) override;
  std::unique_ptr<DirectoryHandle> OpenDirectory(
      std::string_view path) override;
  void RemoveUnlessReadOnly(std::string_view path) override;
  void RenameNoReplace(std::string_view from, std::string_view to) override;
  void CopyFileData(std::string_view from, std::string_view to) override;
  std::string ReadRegularFile(std::string_view path, uint64_t limit) override;
  bool EntryExists(std::string_view path) override;

 private:
  const RootHandle& root_;
};

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// File-system services of the platform: find-first/find-next enumeration,
// attributes, times and whole-file and streamed access. Everything goes
// through the FileSystem interface so that a test can inject a fault.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Export.h"

namespace corvane {
class Failure;
}

namespace corvane::platform {

// Attribute bits as the components know them.
enum Attribute : uint32_t {
  kReadOnly = 1,
  kHidden = 2,
  kSystem = 4,
  kDirectory = 16,
  kArchive = 32,
};

// One entry found by a search, or the state of one path.
struct CORVANE_API FileInfo {
  std::string name;  // the last component of the path
  uint32_t attributes = 0;
  uint64_t size = 0;
  // 100-nanosecond intervals since 1601-01-01 UTC.
  int64_t creation_time = 0;
  int64_t last_access_time = 0;
  int64_t last_write_time = 0;
};

// The 100-ns count since 1601 of a time given in seconds and nanoseconds
// since 1970.
CORVANE_API int64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds);

// A file being written. Write and Close throw Failure; the destructor closes
// without reporting.
class CORVANE_API FileWriter {
 public:
  virtual ~FileWriter() = default;
  virtual void Write(std::string_view data) = 0;
  virtual void Close() = 0;
  // Gives a file opened with WriteMode::kUnnamed, after Close, the name
  // `path`, which must not exist (58 when it does). Any other file refuses
  // (5).
  virtual void LinkAs(std::string_view path);
};

// A file being read. Read returns 0 at the end; it throws Failure.
class CORVANE_API FileReader {
 public:
  virtual ~FileReader() = default;
  virtual size_t Read(char* buffer, size_t count) = 0;
  // The next Read starts `offset` bytes from the start of the file.
  virtual void Seek(uint64_t offset) = 0;
};

// kUnnamed makes a file without a name in the directory of the path, which
// only LinkAs names (so a process killed meanwhile leaves nothing behind);
// failures name the path. A file system that cannot make one refuses (5).
enum class WriteMode { kCreate, kCreateNew, kAppend, kUnnamed };

// An open directory whose entries are named relative to it, so that a walk
// cannot be redirected by a directory that is swapped for a link meanwhile.
// Every call throws Failure.
class CORVANE_API DirectoryHandle {
 public:
  struct Entry {
    std::string name;
    bool directory = false;  // a real directory; a link is never one
    bool link = false;       // a symbolic link
    uint64_t inode = 0;      // its inode number; 0 when not known
  };
  virtual ~DirectoryHandle() = default;
  // Every entry but "." and "..", in the order the directory delivers them.
  virtual std::vector<Entry> Entries() = 0;
  // The subdirectory `name`, opened without following a link (a link or a
  // non-directory fails).
  virtual std::unique_ptr<DirectoryHandle> OpenSubdirectory(
      std::string_view name) = 0;
  // Removes the entry `name` that is no directory (a link is removed as a
  // link); a read-only file is refused (75).
  virtual void RemoveFile(std::string_view name) = 0;
  // Removes `files`, entries of this directory that are no directories, as
  // RemoveFile would one after another, up to the first that cannot be
  // removed, whose failure is thrown. Each is checked before any is
  // removed, so that a read-only file stops the removals where it stands;
  // a removal that fails after the checks may leave later files removed.
  virtual void RemoveFiles(std::span<const Entry> files) {
    for (const Entry& file : files) RemoveFile(file.name);
  }
  virtual void RemoveSubdirectory(std::string_view name) = 0;
  // Creates `to`, which must not exist, as CopyFileData does, from the entry
  // `name` opened without following a link: a link or anything but a
  // regular file is refused (75) and nothing is created.
  virtual void CopyFileOut(std::string_view name, std::string_view to) = 0;
};

// Every call throws corvane::Failure (number from the errno table, empty
// source) unless it says otherwise.
class CORVANE_API FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Entries matching `pattern`: `*` and `?` in the last component, a
  // trailing `/` lists the directory's contents; `.` and `..` come first
  // when they match. An empty result when nothing matches or the directory
  // cannot be read.
  virtual std::vector<FileInfo> Find(std::string_view pattern) = 0;
  // The state of a path (not following a final link's absence); nullopt
  // when it does not exist.
  virtual std::optional<FileInfo> Stat(std::string_view path) = 0;
  virtual std::string ReadFile(std::string_view path) = 0;
  virtual std::unique_ptr<FileReader> OpenReader(std::string_view path) = 0;
  virtual std::unique_ptr<FileWriter> OpenWriter(std::string_view path,
                                                 WriteMode mode) = 0;
  // Replaces `to` if it exists.
  virtual void Rename(std::string_view from, std::string_view to) = 0;
  virtual void Remove(std::string_view path) = 0;
  virtual void CreateDirectory(std::string_view path) = 0;
  virtual void RemoveDirectory(std::string_view path) = 0;
  // Sets or clears read-only; archive and the bits the path already has are
  // accepted; any other bit fails (5).
  virtual void SetAttributes(std::string_view path, uint32_t attributes) = 0;
  // Bytes available to this process on the file system holding `path`.
  virtual uint64_t FreeSpace(std::string_view path) = 0;
  // A name for a new file in `directory` that does not exist yet (the
  // caller creates it with kCreateNew, which refuses a name taken
  // meanwhile). Only a taken name is tried again, a bounded number of
  // times; any other failure (a missing directory, a file for a directory,
  // a name too long) throws at once.
  virtual std::string TemporaryName(std::string_view directory,
                                    std::string_view prefix) = 0;

  // The directory at `path`, opened without following a final link.
  virtual std::unique_ptr<DirectoryHandle> OpenDirectory(
      std::string_view path) = 0;
  // Removes a file or link; a read-only file is refused (75).
  virtual void RemoveUnlessReadOnly(std::string_view path) = 0;
  // Renames; an existing `to` is refused (58) and left alone.
  virtual void RenameNoReplace(std::string_view from, std::string_view to) = 0;
  // Creates `to`, which must not exist, with the bytes, permission bits and
  // write time of the file `from`, copied by the kernel (a clone where the
  // file system offers one).
  virtual void CopyFileData(std::string_view from, std::string_view to) = 0;
  // The whole content of the regular file at `path`; anything else is
  // refused at once (75), a file longer than `limit` bytes fails with 6.
  virtual std::string ReadRegularFile(std::string_view path,
                                      uint64_t limit) = 0;
  // Whether anything is at `path`, a dangling symbolic link included; false
  // when nothing is or the path cannot be looked at (a NUL, a level too
  // long, a level that cannot be searched). Never fails.
  virtual bool EntryExists(std::string_view path) = 0;
};

// The POSIX file system.
class CORVANE_API PosixFileSystem : public FileSystem {
 public:
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
};

// Forwards every call to another file system; a test derives from it and
// overrides only the call it breaks.
class CORVANE_API ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner) : inner_(inner) {}
  std::vector<FileInfo> Find(std::string_view p) override {
    return inner_.Find(p);
  }
  std::optional<FileInfo> Stat(std::string_view p) override {
    return inner_.Stat(p);
  }
  std::string ReadFile(std::string_view p) override {
    return inner_.ReadFile(p);
  }
  std::unique_ptr<FileReader> OpenReader(std::string_view p) override {
    return inner_.OpenReader(p);
  }
  std::unique_ptr<FileWriter> OpenWriter(std::string_view p,
                                         WriteMode m) override {
    return inner_.OpenWriter(p, m);
  }
  void Rename(std::string_view a, std::string_view b) override {
    inner_.Rename(a, b);
  }
  void Remove(std::string_view p) override { inner_.Remove(p); }
  void CreateDirectory(std::string_view p) override {
    inner_.CreateDirectory(p);
  }
  void RemoveDirectory(std::string_view p) override {
    inner_.RemoveDirectory(p);
  }
  void SetAttributes(std::string_view p, uint32_t a) override {
    inner_.SetAttributes(p, a);
  }
  uint64_t FreeSpace(std::string_view p) override {
    return inner_.FreeSpace(p);
  }
  std::string TemporaryName(std::string_view d, std::string_view p) override {
    return inner_.TemporaryName(d, p);
  }
  std::unique_ptr<DirectoryHandle> OpenDirectory(std::string_view p) override {
    return inner_.OpenDirectory(p);
  }
  void RemoveUnlessReadOnly(std::string_view p) override {
    inner_.RemoveUnlessReadOnly(p);
  }
  void RenameNoReplace(std::string_view a, std::string_view b) override {
    inner_.RenameNoReplace(a, b);
  }
  void CopyFileData(std::string_view a, std::string_view b) override {
    inner_.CopyFileData(a, b);
  }
  std::string ReadRegularFile(std::string_view p, uint64_t l) override {
    return inner_.ReadRegularFile(p, l);
  }
  bool EntryExists(std::string_view p) override {
    return inner_.EntryExists(p);
  }

 protected:
  FileSystem& inner_;
};

// The file system in use: the one installed for the calling thread, else
// the one installed for the process (a test's), else the POSIX one.
CORVANE_API FileSystem& Files();

// Installs `replacement` for the whole process until the guard ends (tests
// inject faults here).
class CORVANE_API ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& replacement);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Installs `replacement` for the calling thread only until the guard ends,
// then restores the thread's previous one: a server's worker drives a
// component through a file system of its own while other workers go on
// with theirs. Never fails.
class CORVANE_API ScopedThreadFileSystem {
 public:
  explicit ScopedThreadFileSystem(FileSystem& replacement);
  ~ScopedThreadFileSystem();
  ScopedThreadFileSystem(const ScopedThreadFileSystem&) = delete;
  ScopedThreadFileSystem& operator=(const ScopedThreadFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Whether a path names a plain file (anything but a directory) or a
// directory; `*` and `?` in the last component match as in Find.
CORVANE_API bool FileMatchExists(std::string_view pattern);
CORVANE_API bool DirectoryMatchExists(std::string_view pattern);

// `path` as the system takes it. A NUL character (which would cut the path
// short), a level longer than NAME_MAX and a path of PATH_MAX bytes or more
// are refused (52, naming the path). Every path the platform hands to the
// system passes here.
CORVANE_API std::string SystemPath(std::string_view path);

// Refuses (75) to replace `path` when it is a directory or a read-only
// file; nothing there, or a writable file, passes.
CORVANE_API void RefuseUnreplaceable(std::string_view path);

// Renames the complete file `temporary` over `path`, unless
// RefuseUnreplaceable refuses `path` (then both stay as they are). Throws
// Failure.
CORVANE_API void PutInPlace(std::string_view temporary, std::string_view path);

// Names `shown` wherever the failure's text names `hidden` (a temporary file
// the caller never heard of). Never fails.
CORVANE_API void NameInsteadOf(Failure& failure, std::string_view hidden,
                               std::string_view shown);

// Puts `content` at `path` through a temporary file beside it that is
// renamed over the old file, so a failure leaves the old file as it was and
// no temporary behind. A read-only old file is refused (75); so is a
// directory. Throws Failure.
CORVANE_API void WriteFileReplacing(std::string_view path,
                                    std::string_view content);

// Copies the file `from` to `to` the same way (a copy onto itself leaves the
// file intact). Throws Failure.
CORVANE_API void CopyFileReplacing(std::string_view from, std::string_view to);
// Copies the regular file `name` of the open directory `from` to `to` the
// same way, never through a link (see DirectoryHandle::CopyFileOut).
CORVANE_API void CopyFileReplacing(DirectoryHandle& from, std::string_view name,
                                   std::string_view to);

// Where the components' Windows and system directories are on this system.
inline constexpr char kWindowsDirectory[] = "/etc";
inline constexpr char kSystemDirectory[] = "/usr/lib";

// Whether anything is at the path, a dangling symbolic link included, as
// the file system in use (Files()) sees it; see FileSystem::EntryExists.
// Never fails.
CORVANE_API bool PathEntryExists(std::string_view path);

}  // namespace corvane::platform

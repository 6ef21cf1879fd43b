// SPDX-License-Identifier: Apache-2.0
// The file and directory management component: lists directories into CFile
// and CSubDir records, copies, renames, deletes, creates, reads and writes
// files and directories, and reports attributes, free space and the system's
// directories. Every member catches its own failures (see each one).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "filemgmt/CFile.h"
#include "filemgmt/CSubDir.h"
#include "frame/Component.h"
#include "platform/FileSystem.h"

namespace corvane::vantry {

// Source of the failures the component records.
inline constexpr char kSource[] = "Vantry";

// The errors the walk of DeleteDir raises and records.
inline constexpr int32_t kDirectoryNotDeleted = kComponentErrorBase + 1000;
inline constexpr int32_t kFileNotDeleted = kComponentErrorBase + 1001;

// The longest file ReadFile reads and ReadFileLength reports.
inline constexpr uint64_t kLongestFile = 2'147'483'647;

// Members that take a directory (ReadDir, RenameDir, MakeDir, DeleteDir,
// CopyFileEx, IsDirExists) refuse an empty path or one of separators only
// as a recorded failure (76), touching nothing; every member refuses a path
// the system cannot take (a NUL character, a level that is too long) as a
// recorded failure (52).
class Vantry : public ComponentClass<Vantry> {
 public:
  static ClassInfo Members();
  Vantry() : ComponentClass(kSource) {}

  // The collections of the last ReadDir (or what a script assigned);
  // nullptr before either. Never fail.
  Variant::Object Files() const { return files_; }
  void Files(Variant::Object files) { files_ = std::move(files); }
  Variant::Object SubDirs() const { return sub_dirs_; }
  void SubDirs(Variant::Object sub_dirs) { sub_dirs_ = std::move(sub_dirs); }

  // "/etc" and "/usr/lib"; empty text on failure.
  std::string GetWindowsDirectory();
  std::string GetSystemDirectory();

  // Lists the directory into new Files and SubDirs collections: 1 listed,
  // 0 the directory cannot be enumerated, -1 failed (recorded).
  [[nodiscard]] int16_t ReadDir(std::string_view vsDirPathName);
  // The record of the first entry the path matches; nullptr when none or
  // on failure (recorded).
  std::shared_ptr<CFile> GetFileInfo(std::string_view vsFilePathName);
  // The local time text of a raw file time held in a currency; empty when
  // the time cannot be converted. Throws Failure 6 past the year 9999.
  std::string Win32ToVbTime(const Currency& ft);

  // 1 renamed, 0 nothing of the old name, -1 failed (an existing new name
  // included; recorded).
  [[nodiscard]] int16_t RenameDir(std::string_view vsOldPathName,
                                  std::string_view vsNewPathName);
  // 1 deleted, 0 no plain file of that name or the delete was refused
  // (read-only, say; not recorded), -1 failed (recorded).
  [[nodiscard]] int16_t DeleteFile(std::string_view vsFilePathName);
  // The file's length in bytes; -1 on failure (recorded; a directory, a
  // missing file, a length above 2,147,483,647).
  [[nodiscard]] int32_t ReadFileLength(std::string_view vsFilePathName);
  // 1 created, -1 failed (recorded).
  [[nodiscard]] int16_t MakeDir(std::string_view vsDirPathName);
  // The whole file; empty text on failure (recorded).
  std::string ReadFile(std::string_view vsFilePathName);
  // Replaces the file with the text: its length, or -1 on failure
  // (recorded), the old file then left as it was.
  [[nodiscard]] int32_t WriteFile(std::string_view vsPathName,
                                  std::string_view sFileBuff);
  // Free bytes for this process on the volume; -1 (not recorded) when the
  // query fails, -1 (recorded) on other failures.
  [[nodiscard]] Currency GetDiskFreeSpace(std::string_view vsRootPathName);
  // The attribute bits; -1 on failure (recorded).
  [[nodiscard]] int16_t GetFDAttr(std::string_view vsPathName);
  // 1 set, -1 failed (recorded).
  [[nodiscard]] int16_t SetFDAttr(std::string_view vsPathName, int16_t vnAttr);
  // 1 removed with everything in it, 0 no such directory, -1 failed (the
  // walk records its failures). Links inside are removed, never followed.
  [[nodiscard]] int16_t DeleteDir(std::string_view sDirPathName);
  // 1 copied, 0 no plain source file, -1 failed (recorded; the destination
  // is then as it was).
  [[nodiscard]] int16_t CopyFile(std::string_view sSrcFilePathName,
                                 std::string_view sDesFilePathName);
  // 1 every plain file matching the pattern copied, 0 a directory missing,
  // -1 failed (recorded; the copies made so far stay).
  [[nodiscard]] int16_t CopyFileEx(std::string_view sSrcDir,
                                   std::string_view sDesDir,
                                   const Variant& sCopyPtn);
  // 1 a plain file matches, 0 none, -1 failed (recorded).
  [[nodiscard]] int16_t IsFileExists(std::string_view sFilePathName);
  // 1 a directory or plain file matches, 0 none, -1 failed (recorded).
  [[nodiscard]] int16_t IsDirExists(std::string_view sDirPathName);

 private:
  void DeleteDirContents(platform::DirectoryHandle& parent,
                         const std::string& name);
  void DeleteEntries(platform::DirectoryHandle& directory);

  Variant::Object files_;
  Variant::Object sub_dirs_;
};

}  // namespace corvane::vantry

// SPDX-License-Identifier: Apache-2.0
#include "filemgmt/Vantry.h"

#include <array>
#include <cerrno>
#include <limits>
#include <set>

#include "filemgmt/FileTimeText.h"
#include "frame/Collection.h"

namespace corvane::vantry {
namespace {

using platform::DirectoryMatchExists;
using platform::FileMatchExists;

// The path with a trailing "/", as the listing of a directory's contents
// needs it.
std::string WithSlash(std::string_view path) {
  std::string text(path);
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

// A directory argument. An empty path or one of separators only names no
// directory of its own (the separator appended to it would name the root of
// the file system): it is refused (76) before anything is touched.
std::string_view DirectoryArgument(std::string_view path) {
  if (path.find_first_not_of('/') == std::string_view::npos) {
    Failure failure = StandardFailure(kPathNotFound);
    if (!path.empty()) failure.description += ": " + std::string(path);
    throw failure;
  }
  return path;
}

// One of the walk's own failures, raised while the removal's failure is
// being handled: that failure's system text goes with it.
Failure WalkFailure(int32_t number, const char* source,
                    const char* description) {
  Failure failure(number, source, description);
  try {
    throw;
  } catch (const Failure& cause) {
    failure.system_text = cause.system_text;
  } catch (...) {
    // A fault that is no Failure has no system text to keep.
  }
  return failure;
}

bool HasWildcards(std::string_view path) {
  return path.find_first_of("*?") != std::string_view::npos;
}

int16_t NarrowedAttributes(uint32_t attributes) {
  if (attributes > static_cast<uint32_t>(std::numeric_limits<int16_t>::max())) {
    throw StandardFailure(kOverflow);
  }
  return static_cast<int16_t>(attributes);
}

std::string TimeText(int64_t file_time) {
  return LocalFileTimeText(file_time).value_or(std::string());
}

// The time texts of one listing. Entries written together share their
// times, so texts are kept by half second: within one the whole second and
// the rounded one, and so the text, are the same. A directory lists its
// entries in hash order, not in the order they were written, so a few
// half seconds are kept at once rather than only the last.
class TimeTexts {
 public:
  const std::string& Of(int64_t file_time) {
    int64_t bucket = file_time >= 0 ? file_time / kHalfSecond : -1;
    Slot& slot = slots_[static_cast<uint64_t>(bucket) % kSlots];
    if (bucket < 0 || slot.bucket != bucket) {
      slot.text = TimeText(file_time);
      slot.bucket = bucket;
    }
    return slot.text;
  }

 private:
  static constexpr int64_t kHalfSecond = 5'000'000;  // 100-ns ticks
  static constexpr size_t kSlots = 64;
  struct Slot {
    int64_t bucket = -1;  // never a kept half second
    std::string text;
  };
  std::array<Slot, kSlots> slots_;
};

std::shared_ptr<CFile> FileRecord(const platform::FileInfo& entry,
                                  TimeTexts& times) {
  auto record = CFile::New();
  record->Name = entry.name;
  record->Length = static_cast<int32_t>(static_cast<uint32_t>(entry.size));
  record->CreationTime = times.Of(entry.creation_time);
  record->LastWriteTime = times.Of(entry.last_write_time);
  record->LastAccessTime = times.Of(entry.last_access_time);
  record->Attr = NarrowedAttributes(entry.attributes);
  return record;
}

bool IsDotName(const std::string& name) {
  return !name.empty() && name[0] == '.';
}

bool IsPlainFile(const platform::FileInfo& entry) {
  using namespace platform;
  return (entry.attributes & (kDirectory | kHidden | kSystem)) == 0;
}

// The pattern argument of CopyFileEx: text, or empty for every file.
std::string PatternText(const Variant& sCopyPtn) {
  if (sCopyPtn.IsEmpty()) return {};
  if (!sCopyPtn.Is<std::string>()) throw StandardFailure(kTypeMismatch);
  return sCopyPtn.ToText();
}

}  // namespace

ClassInfo Vantry::Members() {
  using T = Vantry;
  using Object = Variant::Object;
  return ClassBuilder<T>("Vantry")
      .Property(
          "Files", [](T& o) { return o.Files(); },
          [](T& o, Object v) { o.Files(std::move(v)); })
      .Property(
          "SubDirs", [](T& o) { return o.SubDirs(); },
          [](T& o, Object v) { o.SubDirs(std::move(v)); })
      .PageMembers()
      .Method("GetWindowsDirectory",
              [](T& o) { return o.GetWindowsDirectory(); })
      .Method("GetSystemDirectory", [](T& o) { return o.GetSystemDirectory(); })
      .Method("ReadDir",
              [](T& o, std::string_view vsDirPathName) {
                return o.ReadDir(vsDirPathName);
              })
      .Method("GetFileInfo",
              [](T& o, std::string_view vsFilePathName) {
                return o.GetFileInfo(vsFilePathName);
              })
      .Method(
          "Win32ToVbTime",
          [](T& o, Variant& ft) { return o.Win32ToVbTime(ft.ToCurrency()); })
      .Method("RenameDir",
              [](T& o, std::string_view vsOldPathName,
                 std::string_view vsNewPathName) {
                return o.RenameDir(vsOldPathName, vsNewPathName);
              })
      .Method("DeleteFile",
              [](T& o, std::string_view vsFilePathName) {
                return o.DeleteFile(vsFilePathName);
              })
      .Method("ReadFileLength",
              [](T& o, std::string_view vsFilePathName) {
                return o.ReadFileLength(vsFilePathName);
              })
      .Method("MakeDir",
              [](T& o, std::string_view vsDirPathName) {
                return o.MakeDir(vsDirPathName);
              })
      .Method("ReadFile",
              [](T& o, std::string_view vsFilePathName) {
                return o.ReadFile(vsFilePathName);
              })
      .Method(
          "WriteFile",
          [](T& o, std::string_view vsPathName, std::string_view sFileBuff) {
            return o.WriteFile(vsPathName, sFileBuff);
          })
      .Method("GetDiskFreeSpace",
              [](T& o, std::string_view vsRootPathName) {
                return o.GetDiskFreeSpace(vsRootPathName);
              })
      .Method("GetFDAttr",
              [](T& o, std::string_view vsPathName) {
                return o.GetFDAttr(vsPathName);
              })
      .Method("SetFDAttr",
              [](T& o, std::string_view vsPathName, int16_t vnAttr) {
                return o.SetFDAttr(vsPathName, vnAttr);
              })
      .Method("DeleteDir",
              [](T& o, std::string_view sDirPathName) {
                return o.DeleteDir(sDirPathName);
              })
      .Method("CopyFile",
              [](T& o, std::string_view sSrcFilePathName,
                 std::string_view sDesFilePathName) {
                return o.CopyFile(sSrcFilePathName, sDesFilePathName);
              })
      .Method("CopyFileEx",
              [](T& o, std::string_view sSrcDir, std::string_view sDesDir,
                 const Variant& sCopyPtn) {
                return o.CopyFileEx(sSrcDir, sDesDir, sCopyPtn);
              })
      .Method("IsFileExists",
              [](T& o, std::string_view sFilePathName) {
                return o.IsFileExists(sFilePathName);
              })
      .Method("IsDirExists",
              [](T& o, std::string_view sDirPathName) {
                return o.IsDirExists(sDirPathName);
              })
      .ErrorMembers<int16_t>()
      .Build();
}

std::string Vantry::GetWindowsDirectory() {
  return Guarded(std::string(),
                 [] { return std::string(platform::kWindowsDirectory); });
}

std::string Vantry::GetSystemDirectory() {
  return Guarded(std::string(),
                 [] { return std::string(platform::kSystemDirectory); });
}

int16_t Vantry::ReadDir(std::string_view vsDirPathName) {
  auto files = Collection::New();
  auto sub_dirs = Collection::New();
  files_ = files;
  sub_dirs_ = sub_dirs;
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    auto entries = platform::Files().Find(
        WithSlash(DirectoryArgument(vsDirPathName)) + "*");
    if (entries.empty()) return 0;
    TimeTexts times;
    for (const platform::FileInfo& entry : entries) {
      if (IsDotName(entry.name)) continue;
      if (entry.attributes & platform::kDirectory) {
        auto record = CSubDir::New();
        record->Name = entry.name;
        record->DateTime = times.Of(entry.creation_time);
        record->Attr = NarrowedAttributes(entry.attributes);
        sub_dirs->Add(std::move(record));
      } else {
        files->Add(FileRecord(entry, times));
      }
    }
    return 1;
  });
}

std::shared_ptr<CFile> Vantry::GetFileInfo(std::string_view vsFilePathName) {
  return Guarded(std::shared_ptr<CFile>(), [&]() -> std::shared_ptr<CFile> {
    // Find-first does not take a path that ends in a separator.
    if (vsFilePathName.empty() || vsFilePathName.back() == '/') return nullptr;
    auto entries = platform::Files().Find(vsFilePathName);
    if (entries.empty()) return nullptr;
    TimeTexts times;
    return FileRecord(entries.front(), times);
  });
}

std::string Vantry::Win32ToVbTime(const Currency& ft) {
  return TimeText(ft.value);
}

int16_t Vantry::RenameDir(std::string_view vsOldPathName,
                          std::string_view vsNewPathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    DirectoryArgument(vsOldPathName);
    DirectoryArgument(vsNewPathName);
    if (!DirectoryMatchExists(vsOldPathName)) return 0;
    platform::Files().RenameNoReplace(vsOldPathName, vsNewPathName);
    return 1;
  });
}

int16_t Vantry::DeleteFile(std::string_view vsFilePathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    if (!FileMatchExists(vsFilePathName)) return 0;
    // A refused delete answers 0 and is not recorded.
    try {
      platform::Files().RemoveUnlessReadOnly(vsFilePathName);
    } catch (const Failure&) {
      return 0;
    }
    return 1;
  });
}

int32_t Vantry::ReadFileLength(std::string_view vsFilePathName) {
  return Guarded(int32_t{-1}, [&]() -> int32_t {
    auto info = platform::Files().Stat(vsFilePathName);
    std::string path(vsFilePathName);
    if (!info) throw FailureFromErrno(ENOENT, path);
    if (info->attributes & platform::kDirectory) {
      throw FailureFromErrno(EISDIR, path);
    }
    if (info->size > kLongestFile) throw StandardFailure(kOverflow);
    return static_cast<int32_t>(info->size);
  });
}

int16_t Vantry::MakeDir(std::string_view vsDirPathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    platform::Files().CreateDirectory(DirectoryArgument(vsDirPathName));
    return 1;
  });
}

std::string Vantry::ReadFile(std::string_view vsFilePathName) {
  return Guarded(std::string(), [&] {
    return platform::Files().ReadRegularFile(vsFilePathName, kLongestFile);
  });
}

int32_t Vantry::WriteFile(std::string_view vsPathName,
                          std::string_view sFileBuff) {
  return Guarded(int32_t{-1}, [&]() -> int32_t {
    // A pattern names no single file.
    if (HasWildcards(vsPathName)) {
      Failure failure = StandardFailure(kBadFileName);
      failure.description += ": " + std::string(vsPathName);
      throw failure;
    }
    if (sFileBuff.size() > kLongestFile) throw StandardFailure(kOverflow);
    platform::WriteFileReplacing(vsPathName, sFileBuff);
    return static_cast<int32_t>(sFileBuff.size());
  });
}

Currency Vantry::GetDiskFreeSpace(std::string_view vsRootPathName) {
  constexpr int64_t kScale = 10'000;
  const Currency failed{-1 * kScale};
  return Guarded(failed, [&]() -> Currency {
    uint64_t bytes;
    try {
      bytes = platform::Files().FreeSpace(vsRootPathName);
    } catch (const Failure&) {
      return failed;  // a failed query is not recorded
    }
    if (bytes >
        static_cast<uint64_t>(std::numeric_limits<int64_t>::max() / kScale)) {
      throw StandardFailure(kOverflow);
    }
    return Currency{static_cast<int64_t>(bytes) * kScale};
  });
}

int16_t Vantry::GetFDAttr(std::string_view vsPathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    auto info = platform::Files().Stat(vsPathName);
    if (!info) throw FailureFromErrno(ENOENT, std::string(vsPathName));
    return NarrowedAttributes(info->attributes);
  });
}

int16_t Vantry::SetFDAttr(std::string_view vsPathName, int16_t vnAttr) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    platform::Files().SetAttributes(vsPathName, static_cast<uint16_t>(vnAttr));
    return 1;
  });
}

int16_t Vantry::DeleteDir(std::string_view sDirPathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    std::string path = WithSlash(DirectoryArgument(sDirPathName));
    if (!DirectoryMatchExists(path)) return 0;
    // The walk goes through handles opened without following links, so a
    // link inside (or one swapped in meanwhile) is removed, never entered.
    std::unique_ptr<platform::DirectoryHandle> top;
    try {
      top = platform::Files().OpenDirectory(path);
    } catch (...) {
      SaveLastError(CurrentFailure(kSource));
    }
    if (top) DeleteEntries(*top);
    top.reset();
    // The last removal records nothing; the triple keeps the walk's record.
    try {
      std::string_view name(path);
      if (name.size() > 1) name.remove_suffix(1);
      platform::Files().RemoveDirectory(name);
    } catch (...) {
      return -1;
    }
    return 1;
  });
}

void Vantry::DeleteDirContents(platform::DirectoryHandle& parent,
                               const std::string& name) {
  std::unique_ptr<platform::DirectoryHandle> directory;
  try {
    directory = parent.OpenSubdirectory(name);
  } catch (...) {
    SaveLastError(CurrentFailure(kSource));
    return;
  }
  DeleteEntries(*directory);
}

// One level of the walk: a failure ends the level, is recorded, and leaves
// the level above to fail on the directory that is not empty.
void Vantry::DeleteEntries(platform::DirectoryHandle& directory) {
  try {
    // The files up to the next subdirectory go to the platform together,
    // which removes them in the order the file system handles best.
    std::vector<platform::DirectoryHandle::Entry> files;
    auto remove_files = [&] {
      try {
        directory.RemoveFiles(files);
      } catch (...) {
        throw WalkFailure(kFileNotDeleted, "Calling DeleteFile API",
                          "Not able to delete the file");
      }
      files.clear();
    };
    for (auto& entry : directory.Entries()) {
      if (IsDotName(entry.name)) continue;  // never deleted
      if (!entry.directory) {
        files.push_back(std::move(entry));
        continue;
      }
      remove_files();
      DeleteDirContents(directory, entry.name);
      try {
        directory.RemoveSubdirectory(entry.name);
      } catch (...) {
        throw WalkFailure(kDirectoryNotDeleted, "Calling RemoveDirectory API",
                          "Not able to delete the directory");
      }
    }
    remove_files();
  } catch (...) {
    SaveLastError(CurrentFailure(kSource));
  }
}

int16_t Vantry::CopyFile(std::string_view sSrcFilePathName,
                         std::string_view sDesFilePathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    if (!FileMatchExists(sSrcFilePathName)) return 0;
    platform::CopyFileReplacing(sSrcFilePathName, sDesFilePathName);
    return 1;
  });
}

int16_t Vantry::CopyFileEx(std::string_view sSrcDir, std::string_view sDesDir,
                           const Variant& sCopyPtn) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    DirectoryArgument(sSrcDir);
    DirectoryArgument(sDesDir);
    if (!DirectoryMatchExists(sSrcDir) || !DirectoryMatchExists(sDesDir)) {
      return 0;
    }
    std::string source = WithSlash(sSrcDir);
    std::string destination = WithSlash(sDesDir);
    // Files are read through the open source directory without following
    // a link: links in it are passed over, and one swapped in for a file
    // after the listing is refused rather than read through. (The named
    // directory itself may be a link: "." opens what it leads to.)
    auto directory = platform::Files().OpenDirectory(source + ".");
    std::set<std::string> links;
    for (const auto& entry : directory->Entries()) {
      if (entry.link) links.insert(entry.name);
    }
    for (const auto& entry :
         platform::Files().Find(source + PatternText(sCopyPtn))) {
      if (!IsPlainFile(entry) || links.contains(entry.name)) continue;
      platform::CopyFileReplacing(*directory, entry.name,
                                  destination + entry.name);
    }
    return 1;
  });
}

int16_t Vantry::IsFileExists(std::string_view sFilePathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    return FileMatchExists(sFilePathName) ? 1 : 0;
  });
}

int16_t Vantry::IsDirExists(std::string_view sDirPathName) {
  return Guarded(int16_t{-1}, [&]() -> int16_t {
    return DirectoryMatchExists(DirectoryArgument(sDirPathName)) ? 1 : 0;
  });
}

}  // namespace corvane::vantry

// SPDX-License-Identifier: Apache-2.0
#include "filemgmt/Vantry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "filemgmt/tests/TestTree.h"
#include "frame/Collection.h"
#include "platform/FileSystem.h"

namespace corvane::vantry {
namespace {

using testing::TestTree;

struct Triple {
  int32_t number;
  std::string source;
  std::string description;
  bool operator==(const Triple&) const = default;
};

Triple LastError(const Vantry& vantry) {
  return {vantry.GetLastErrNum(), vantry.GetLastErrSource(),
          vantry.GetLastErrDescription()};
}

std::vector<std::string> Names(const Variant::Object& collection) {
  std::vector<std::string> names;
  for (const Variant& item : collection->Enumerate()) {
    names.push_back(item.ToObject()->Get("Name").ToText());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class VantryTest : public ::testing::Test {
 protected:
  TestTree tree;
  Vantry vantry;
};

TEST_F(VantryTest, NewObjectHasNoErrorNoCollectionsAndUnboundPageIsFine) {
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
  EXPECT_EQ(vantry.Files(), nullptr);
  EXPECT_EQ(vantry.Get("SubDirs").ToObject(), nullptr);
  vantry.OnEndPage();
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
}

TEST_F(VantryTest, ReadDirListsFilesAndSubdirectoriesButNoDottedNames) {
  tree.Put("d/a.txt", "alpha");
  tree.Put("d/.hidden", "x");
  tree.Put("d/sub/inner", "not listed");
  tree.Dir("d/.dotdir");
  for (std::string path : {tree / "d", tree / "d/"}) {
    EXPECT_EQ(vantry.ReadDir(path), 1) << path;
    EXPECT_EQ(Names(vantry.Files()), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Names(vantry.SubDirs()), std::vector<std::string>{"sub"});
  }
  auto file = vantry.Files()->Enumerate()[0].ToObject();
  EXPECT_EQ(file->Get("Length"), Variant(int32_t{5}));
  EXPECT_EQ(file->Get("Attr"), Variant(int16_t{32}));
  EXPECT_EQ(file->Get("DateTime"), file->Get("LastWriteTime"));
  EXPECT_EQ(file->Get("LastWriteTime").ToText().size(), 20u);
  auto sub = vantry.SubDirs()->Enumerate()[0].ToObject();
  EXPECT_EQ(sub->Get("Attr"), Variant(int16_t{16}));
  EXPECT_EQ(sub->Get("DateTime").ToText(),
            vantry.GetFileInfo(tree / "d/sub")->CreationTime);
}

TEST_F(VantryTest, ReadDirOfNothingListableGivesZeroAndEmptyCollections) {
  tree.Put("file", "x");
  tree.Dir("empty");
  struct Case {
    std::string path;
    int16_t result;
  } cases[] = {{tree / "file", 0}, {tree / "missing", 0}, {tree / "empty", 1}};
  for (const Case& c : cases) {
    vantry.Files(nullptr);
    EXPECT_EQ(vantry.ReadDir(c.path), c.result) << c.path;
    EXPECT_EQ(vantry.Files()->Enumerate().size(), 0u);
    EXPECT_EQ(vantry.SubDirs()->Enumerate().size(), 0u);
  }
}

TEST_F(VantryTest, LengthKeepsTheLowThirtyTwoBitsOfSparseFiles) {
  struct Case {
    off_t size;
    int32_t length;
  } cases[] = {{5'000'000'000, 705'032'704}, {3'000'000'000, -1'294'967'296}};
  for (const Case& c : cases) {
    std::string path = tree / "sparse";
    tree.Put("sparse", "");
    ASSERT_EQ(::truncate(path.c_str(), c.size), 0);
    EXPECT_EQ(vantry.GetFileInfo(path)->Length, c.length);
    ASSERT_EQ(vantry.ReadDir(tree / ""), 1);
    EXPECT_EQ(vantry.Files()->Enumerate()[0].ToObject()->Get("Length"),
              Variant(c.length));
    // Too long to read or measure as a 32-bit length.
    EXPECT_EQ(vantry.ReadFileLength(path), -1);
    EXPECT_EQ(vantry.ReadFile(path), "");
    EXPECT_EQ(LastError(vantry), (Triple{6, "Vantry", "Overflow"}));
  }
}

TEST_F(VantryTest, DateTimeAndLastWriteTimeAreOneText) {
  auto file = CFile::New();
  file->Put("DateTime", "01/02/03 04:05:06 AM");
  EXPECT_EQ(file->Get("LastWriteTime").ToText(), "01/02/03 04:05:06 AM");
  file->Put("LastWriteTime", "x");
  EXPECT_EQ(file->Get("DateTime").ToText(), "x");
}

// Each time text is its own, also for times a fraction of a second apart
// that round to different seconds (a record's write and access times are
// converted one after the other) and for times whose half seconds share a
// place among the texts a listing keeps (32 s apart).
TEST_F(VantryTest, ListedTimesRoundEachToItsOwnSecond) {
  constexpr time_t kSecond = 1'000'000'000;
  // Each file's write and access times: seconds since 1970, nanoseconds.
  const std::tuple<const char*, timespec, timespec> files[] = {
      {"a", {kSecond, 400'000'000}, {kSecond, 600'000'000}},
      {"b", {kSecond, 600'000'000}, {kSecond, 499'999'900}},
      {"c", {kSecond, 0}, {kSecond + 1, 0}},
      {"d", {kSecond + 32, 0}, {kSecond, 0}},
  };
  auto text = [&](const timespec& when) {
    return vantry.Win32ToVbTime(Currency{
        (when.tv_sec + 11'644'473'600LL) * 10'000'000LL + when.tv_nsec / 100});
  };
  std::map<std::string, std::pair<std::string, std::string>> expected;
  for (const auto& [name, written, read] : files) {
    tree.Put(name, "x");
    struct timespec times[2] = {read, written};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tree / name).c_str(), times, 0), 0);
    expected[name] = {text(written), text(read)};
  }
  ASSERT_NE(expected["a"].first, expected["a"].second);
  ASSERT_EQ(vantry.ReadDir(tree / ""), 1);
  for (const Variant& item : vantry.Files()->Enumerate()) {
    auto record = item.ToObject();
    std::string name = record->Get("Name").ToText();
    EXPECT_EQ(record->Get("LastWriteTime").ToText(), expected[name].first)
        << name;
    EXPECT_EQ(record->Get("LastAccessTime").ToText(), expected[name].second)
        << name;
  }
}

TEST_F(VantryTest, GetFileInfoTakesTheFirstMatchAndRefusesATrailingSlash) {
  tree.Put("only.txt", "12");
  EXPECT_EQ(vantry.GetFileInfo(tree / "*.txt")->Name, "only.txt");
  EXPECT_EQ(vantry.GetFileInfo(tree / "o?ly.txt")->Length, 2);
  EXPECT_EQ(vantry.GetFileInfo(tree / ""), nullptr);
  EXPECT_EQ(vantry.GetFileInfo(tree / "none"), nullptr);
}

TEST_F(VantryTest, WalkFailureOverflowsTheSixteenBitNumberButKeepsItsTexts) {
  tree.Put("d/sub/locked", "x");
  tree.ReadOnly("d/sub/locked");
  EXPECT_EQ(vantry.DeleteDir(tree / "d"), -1);
  EXPECT_EQ(LastError(vantry),
            (Triple{kDirectoryNotDeleted, "Calling RemoveDirectory API",
                    "Not able to delete the directory"}));
  EXPECT_THROW(vantry.Get("GetLastErrNum"), Failure);
  EXPECT_EQ(vantry.Get("GetLastErrDescription").ToText(),
            "Not able to delete the directory");
  EXPECT_TRUE(tree.Has("d/sub/locked"));
  // The walk's own texts; the system's reason goes beside them.
  EXPECT_EQ(vantry.LastSystemText(), "Directory not empty");
  // A later success leaves the record in place.
  EXPECT_EQ(vantry.MakeDir(tree / "new"), 1);
  EXPECT_EQ(vantry.GetLastErrNum(), kDirectoryNotDeleted);
}

TEST_F(VantryTest, DeleteDirLeavesDottedNamesAndTheDirectory) {
  tree.Put("d/.keep", "k");
  tree.Put("d/gone", "g");
  tree.Put("d/sub/gone", "g");
  EXPECT_EQ(vantry.DeleteDir(tree / "d/"), -1);
  EXPECT_EQ(tree.Names("d"), std::set<std::string>{".keep"});
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
}

TEST_F(VantryTest, DeleteDirRemovesTheWholeTreeAndIgnoresWhatIsMissing) {
  for (std::string suffix : {"", "/"}) {
    tree.Put("d/a", "a");
    tree.Put("d/s/t/b", "b");
    tree.Dir("d/s/empty");
    EXPECT_EQ(vantry.DeleteDir(tree / "d" + suffix), 1);
    EXPECT_FALSE(tree.Has("d"));
  }
  EXPECT_EQ(vantry.DeleteDir(tree / "missing"), 0);
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
}

TEST_F(VantryTest, DeleteDirRaisesForAReadOnlyFileAtTheTop) {
  tree.Put("d/locked", "x");
  tree.ReadOnly("d/locked");
  EXPECT_EQ(vantry.DeleteDir(tree / "d"), -1);
  EXPECT_EQ(LastError(vantry),
            (Triple{kFileNotDeleted, "Calling DeleteFile API",
                    "Not able to delete the file"}));
}

TEST_F(VantryTest, ExistenceTests) {
  tree.Put("plain", "x");
  tree.Put(".hidden", "x");
  tree.Dir("dir");
  struct Case {
    std::string name;
    int16_t file;
    int16_t dir;
  } cases[] = {{"plain", 1, 1},   {"p*", 1, 1},      {"dir", 0, 1},
               {".hidden", 0, 0}, {"missing", 0, 0}, {"dir/", 0, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(vantry.IsFileExists(tree / c.name), c.file) << c.name;
    EXPECT_EQ(vantry.IsDirExists(tree / c.name), c.dir) << c.name;
  }
}

TEST_F(VantryTest, DeleteFileRefusesWhatIsNoPlainWritableFile) {
  tree.Put("plain", "x");
  tree.Put("locked", "x");
  tree.ReadOnly("locked");
  tree.Put(".hidden", "x");
  struct Case {
    std::string name;
    int16_t result;
  } cases[] = {
      {"locked", 0}, {".hidden", 0}, {"p*", 0}, {"missing", 0}, {"plain", 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(vantry.DeleteFile(tree / c.name), c.result) << c.name;
  }
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"locked", ".hidden"}));
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
}

TEST_F(VantryTest, CopyFileCopiesAndOverwrites) {
  tree.Put("src", "new content");
  tree.Put("dst", "old and longer content");
  EXPECT_EQ(vantry.CopyFile(tree / "src", tree / "dst"), 1);
  EXPECT_EQ(tree.Read("dst"), "new content");
  EXPECT_EQ(vantry.CopyFile(tree / "missing", tree / "dst"), 0);
  EXPECT_EQ(vantry.CopyFile(tree / "src", tree / "nodir/dst"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kFileNotFound);
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"src", "dst"}));
}

TEST_F(VantryTest, CopyFileExCopiesMatchingPlainFilesOfTheTopDirectory) {
  tree.Put("s/a.txt", "a");
  tree.Put("s/b.txt", "b");
  tree.Put("s/c.log", "c");
  tree.Put("s/.h.txt", "h");
  tree.Put("s/sub.txt/x.txt", "x");
  tree.Put("d/a.txt", "old");
  EXPECT_EQ(vantry.CopyFileEx(tree / "s", tree / "d", "*.txt"), 1);
  EXPECT_EQ(tree.Names("d"), (std::set<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(tree.Read("d/a.txt"), "a");
  EXPECT_EQ(vantry.CopyFileEx(tree / "s/", tree / "d/", Variant()), 1);
  EXPECT_EQ(tree.Names("d"),
            (std::set<std::string>{"a.txt", "b.txt", "c.log"}));
  EXPECT_EQ(vantry.CopyFileEx(tree / "s", tree / "missing", ""), 0);
  EXPECT_EQ(vantry.CopyFileEx(tree / "s", tree / "d", int32_t{5}), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kTypeMismatch);
}

TEST_F(VantryTest, RenameDirMovesFilesAndDirectories) {
  tree.Put("a/f", "f");
  EXPECT_EQ(vantry.RenameDir(tree / "a", tree / "b"), 1);
  EXPECT_EQ(vantry.RenameDir(tree / "b/f", tree / "g"), 1);
  EXPECT_EQ(tree.Read("g"), "f");
  EXPECT_EQ(vantry.RenameDir(tree / "a", tree / "c"), 0);
}

TEST_F(VantryTest, MakeDirNeedsAParentAndANewName) {
  EXPECT_EQ(vantry.MakeDir(tree / "new"), 1);
  EXPECT_EQ(vantry.MakeDir(tree / "new"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kFileAlreadyExists);
  EXPECT_EQ(vantry.MakeDir(tree / "no/parent"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kFileNotFound);
}

// A file system that refuses to make directories, as a read-only mount does.
class ReadOnlyMount : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  void CreateDirectory(std::string_view path) override {
    throw FailureFromErrno(EROFS, std::string(path));
  }
};

TEST_F(VantryTest, AccessErrorsKeepTheSystemTextBesideTheTriple) {
  ReadOnlyMount mount(platform::Files());
  {
    platform::ScopedFileSystem installed(mount);
    EXPECT_EQ(vantry.MakeDir(tree / "new"), -1);
  }
  EXPECT_EQ(LastError(vantry),
            (Triple{kPathFileAccessError, "Vantry",
                    "Path/File access error: " + tree / "new"}));
  EXPECT_EQ(vantry.Get("GetLastErrDescription").ToText(),
            "Path/File access error: " + tree / "new");
  EXPECT_EQ(LastSystemText(vantry), "Read-only file system");
  // A failure without a system text replaces the one before.
  EXPECT_EQ(vantry.MakeDir(""), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kPathNotFound);
  EXPECT_EQ(vantry.LastSystemText(), "");
}

TEST_F(VantryTest, ReadFileAndWriteFileRoundTripEveryByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  tree.Put("in", bytes);
  std::string text = vantry.ReadFile(tree / "in");
  EXPECT_EQ(vantry.WriteFile(tree / "out", text), 256);
  EXPECT_EQ(tree.Read("out"), bytes);
  EXPECT_EQ(vantry.ReadFileLength(tree / "out"), 256);
  EXPECT_EQ(vantry.WriteFile(tree / "out", "short"), 5);
  EXPECT_EQ(tree.Read("out"), "short");
  EXPECT_EQ(vantry.WriteFile(tree / "empty", ""), 0);
  EXPECT_EQ(vantry.ReadFileLength(tree / "empty"), 0);
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"in", "out", "empty"}));
}

TEST_F(VantryTest, WriteFileRefusesReadOnlyFilesAndPatterns) {
  tree.Put("locked", "keep");
  tree.ReadOnly("locked");
  tree.Put("a.txt", "keep");
  EXPECT_EQ(vantry.WriteFile(tree / "locked", "new"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kPathFileAccessError);
  EXPECT_EQ(vantry.WriteFile(tree / "*.txt", "new"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kBadFileName);
  EXPECT_EQ(vantry.WriteFile(tree / "nodir/x", "new"), -1);
  EXPECT_EQ(tree.Read("locked"), "keep");
  EXPECT_EQ(tree.Read("a.txt"), "keep");
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"locked", "a.txt"}));
}

TEST_F(VantryTest, ReadingWhatIsNoFileFailsAndRecords) {
  tree.Dir("dir");
  struct Case {
    std::string name;
    int32_t number;
  } cases[] = {{"missing", kFileNotFound}, {"dir", kPathFileAccessError}};
  for (const Case& c : cases) {
    EXPECT_EQ(vantry.ReadFile(tree / c.name), "");
    EXPECT_EQ(vantry.GetLastErrNum(), c.number) << c.name;
    EXPECT_EQ(vantry.ReadFileLength(tree / c.name), -1);
    EXPECT_EQ(vantry.GetLastErrNum(), c.number) << c.name;
  }
}

TEST_F(VantryTest, DiskFreeSpaceIsTheFullByteCountAsCurrency) {
  struct statvfs vfs;
  ASSERT_EQ(::statvfs((tree / "").c_str(), &vfs), 0);
  int64_t expected = static_cast<int64_t>(vfs.f_bavail * vfs.f_frsize);
  int64_t got = vantry.GetDiskFreeSpace(tree / "").value / 10'000;
  EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 1e8);
  EXPECT_EQ(vantry.GetDiskFreeSpace(tree / "missing").value, -10'000);
  EXPECT_EQ(LastError(vantry), (Triple{0, "", ""}));
}

TEST_F(VantryTest, AttributesReadAndSet) {
  tree.Put("f", "x");
  tree.Dir("d");
  EXPECT_EQ(vantry.GetFDAttr(tree / "f"), 32);
  EXPECT_EQ(vantry.SetFDAttr(tree / "f", 33), 1);
  EXPECT_EQ(vantry.GetFDAttr(tree / "f"), 33);
  EXPECT_EQ(vantry.SetFDAttr(tree / "f", 0), 1);
  EXPECT_EQ(vantry.GetFDAttr(tree / "f"), 32);
  // A directory's bits go back as they were read.
  EXPECT_EQ(vantry.SetFDAttr(tree / "d", vantry.GetFDAttr(tree / "d")), 1);
  EXPECT_EQ(vantry.SetFDAttr(tree / "f", 2), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kInvalidCall);
  EXPECT_EQ(vantry.GetFDAttr(tree / "missing"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kFileNotFound);
}

TEST_F(VantryTest, SystemDirectoriesAndTimeConversionThroughTheTable) {
  EXPECT_EQ(vantry.Call("GetWindowsDirectory").ToText(), "/etc");
  EXPECT_EQ(vantry.Call("GetSystemDirectory").ToText(), "/usr/lib");
  Arguments args{Variant(Currency{-5})};
  EXPECT_EQ(vantry.Call("Win32ToVbTime", args).ToText(), "");
  EXPECT_EQ(args[0], Variant(Currency{-5}));
}

}  // namespace
}  // namespace corvane::vantry

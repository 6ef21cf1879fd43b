// SPDX-License-Identifier: Apache-2.0
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/Failure.h"
#include "platform/tests/Caught.h"
#include "platform/tests/Deadline.h"
#include "platform/tests/FailAllocation.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-fs-XXXXXX";
    root_ = mkdtemp(pattern);
    Write("a.txt", "alpha");
    Write("b.log", "bee");
    Write("readme", "no dot");
    Write(".hidden", "secret");
    fs::create_directory(root_ + "/sub");
    fs::create_directory(root_ + "/.hiddendir");
  }
  void TearDown() override { fs::remove_all(root_); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(root_ + "/" + name) << text;
  }

  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    for (const auto& entry : Files().Find(root_ + "/" + pattern)) {
      names.push_back(entry.name);
    }
    return names;
  }

  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
};

TEST_F(FileSystemTest, WildcardsSelectNamesAndDotEntriesComeFirst) {
  auto all = Names("*");
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], ".");
  EXPECT_EQ(all[1], "..");
  EXPECT_EQ(Sorted(all), Sorted({".", "..", "a.txt", "b.log", "readme",
                                 ".hidden", "sub", ".hiddendir"}));
  EXPECT_EQ(Names("*.txt"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Names("?.log"), std::vector<std::string>{"b.log"});
  EXPECT_EQ(Names("??.log"), std::vector<std::string>{});
  // "*.*" matches every name, with a dot or without, as find-first does.
  EXPECT_EQ(Sorted(Names("*.*")), Sorted(all));
  EXPECT_EQ(Names("readme"), std::vector<std::string>{"readme"});
  EXPECT_TRUE(Names("missing*").empty());
  EXPECT_TRUE(Files().Find(root_ + "/nodir/*").empty());
}

TEST_F(FileSystemTest, OnlyStarAndQuestionMarkAreWildcards) {
  for (const char* name : {"report[1].txt", "report1.txt", "back\\slash",
                           "backslash", "odd]name"}) {
    Write(name, "x");
  }
  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"report[1].txt", {"report[1].txt"}},
      {"report*", {"report1.txt", "report[1].txt"}},
      {"report?1?.txt", {"report[1].txt"}},
      {"report[!1].txt", {}},
      {"back\\slash", {"back\\slash"}},
      {"back\\*", {"back\\slash"}},
      {"odd]name", {"odd]name"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sorted(Names(c.pattern)), c.names) << c.pattern;
  }
  EXPECT_TRUE(FileMatchExists(root_ + "/report[1].txt"));
}

TEST_F(FileSystemTest, TrailingSlashListsTheDirectoryContents) {
  EXPECT_EQ(Sorted(Names("")), Sorted(Names("*")));
  auto sub = Files().Find(root_ + "/sub/");
  ASSERT_EQ(sub.size(), 2u);
  EXPECT_EQ(sub[0].name, ".");
  EXPECT_EQ(sub[0].attributes, uint32_t{kDirectory});
  // Without the slash the directory itself is found.
  auto itself = Files().Find(root_ + "/sub");
  ASSERT_EQ(itself.size(), 1u);
  EXPECT_EQ(itself[0].name, "sub");
}

TEST_F(FileSystemTest, AttributesMapThePlatformState) {
  auto info = Files().Stat(root_ + "/a.txt");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->attributes, uint32_t{kArchive});
  EXPECT_EQ(info->size, 5u);
  EXPECT_EQ(Files().Stat(root_ + "/.hidden")->attributes,
            uint32_t{kArchive | kHidden});
  EXPECT_EQ(Files().Stat(root_ + "/sub")->attributes, uint32_t{kDirectory});
  EXPECT_EQ(Files().Stat(root_ + "/sub/")->name, "sub");
  EXPECT_EQ(Files().Stat("/dev/null")->attributes & kSystem, uint32_t{kSystem});
  EXPECT_FALSE(Files().Stat(root_ + "/missing"));

  Files().SetAttributes(root_ + "/a.txt", kReadOnly | kArchive);
  EXPECT_EQ(Files().Stat(root_ + "/a.txt")->attributes,
            uint32_t{kReadOnly | kArchive});
  Files().SetAttributes(root_ + "/a.txt", kArchive);
  EXPECT_EQ(Files().Stat(root_ + "/a.txt")->attributes, uint32_t{kArchive});
  EXPECT_THROW(Files().SetAttributes(root_ + "/a.txt", kHidden), Failure);
}

TEST_F(FileSystemTest, TimesCountHundredNanosecondsSince1601) {
  EXPECT_EQ(FileTimeFromUnix(0, 0), 116444736000000000LL);
  EXPECT_EQ(FileTimeFromUnix(1, 500), 116444736010000005LL);
  struct stat st;
  ASSERT_EQ(stat((root_ + "/a.txt").c_str(), &st), 0);
  auto info = Files().Stat(root_ + "/a.txt");
  EXPECT_EQ(info->last_write_time,
            FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec));
  EXPECT_GT(info->creation_time, FileTimeFromUnix(1700000000, 0));
}

TEST_F(FileSystemTest, PlainFileAndDirectoryMatchModes) {
  EXPECT_TRUE(FileMatchExists(root_ + "/a.txt"));
  EXPECT_TRUE(FileMatchExists(root_ + "/*.log"));
  // Hidden files and directories are not plain files.
  EXPECT_FALSE(FileMatchExists(root_ + "/.hidden"));
  EXPECT_FALSE(FileMatchExists(root_ + "/sub"));
  EXPECT_FALSE(FileMatchExists(root_ + "/sub/"));
  // The directory match counts directories and plain files, not hidden ones.
  EXPECT_TRUE(DirectoryMatchExists(root_ + "/sub"));
  EXPECT_TRUE(DirectoryMatchExists(root_ + "/sub/"));  // its "." entry
  EXPECT_TRUE(DirectoryMatchExists(root_ + "/a.txt"));
  EXPECT_FALSE(DirectoryMatchExists(root_ + "/.hiddendir"));
  EXPECT_FALSE(DirectoryMatchExists(root_ + "/.hidden"));
  EXPECT_FALSE(DirectoryMatchExists(root_ + "/missing/"));
  // Read-only files still count as plain files.
  Files().SetAttributes(root_ + "/a.txt", kReadOnly);
  EXPECT_TRUE(FileMatchExists(root_ + "/a.txt"));
}

TEST_F(FileSystemTest, FailuresCarryTheErrorTable) {
  {
    auto failure = CaughtFailure([&] { Files().ReadFile(root_ + "/missing"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kFileNotFound);
    EXPECT_EQ(failure->description, "File not found: " + root_ + "/missing");
    EXPECT_EQ(failure->source, "");
  }
  {
    auto failure = CaughtFailure([&] { Files().ReadFile(root_ + "/sub"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kPathFileAccessError);
  }
  {
    auto failure =
        CaughtFailure([&] { Files().CreateDirectory(root_ + "/sub"); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kFileAlreadyExists);
  }
  {
    auto failure = CaughtFailure(
        [&] { Files().OpenWriter(root_ + "/a.txt/x", WriteMode::kCreate); });
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->number, kPathNotFound);
  }
}

TEST_F(FileSystemTest, WritersReadersCopyAndRename) {
  auto writer = Files().OpenWriter(root_ + "/new.bin", WriteMode::kCreateNew);
  std::string data("\0\x01\xff binary", 10);
  writer->Write(data);
  writer->Close();
  EXPECT_EQ(Files().ReadFile(root_ + "/new.bin"), data);
  EXPECT_THROW(Files().OpenWriter(root_ + "/new.bin", WriteMode::kCreateNew),
               Failure);
  Files().OpenWriter(root_ + "/new.bin", WriteMode::kAppend)->Write("+");
  EXPECT_EQ(Files().ReadFile(root_ + "/new.bin"), data + "+");

  Files().CopyFileData(root_ + "/new.bin", root_ + "/copy.bin");
  EXPECT_EQ(Files().ReadFile(root_ + "/copy.bin"), data + "+");
  EXPECT_THROW(Files().CopyFileData(root_ + "/a.txt", root_ + "/copy.bin"),
               Failure);
  Files().Rename(root_ + "/copy.bin", root_ + "/a.txt");
  EXPECT_EQ(Files().ReadFile(root_ + "/a.txt"), data + "+");
  std::string temporary = Files().TemporaryName(root_, "up");
  EXPECT_FALSE(Files().Stat(temporary));
  EXPECT_EQ(temporary.rfind(root_ + "/up", 0), 0u);
  EXPECT_GT(Files().FreeSpace(root_), 0u);
}

TEST_F(FileSystemTest, TemporaryNameFailsAtOnceWhereNoNameCanBeMade) {
  // A file for a directory, and a directory name longer than a path may
  // be: every name fails alike, so trying more names would never end.
  const struct {
    std::string directory;
    int32_t number;
  } cases[] = {
      {root_ + "/a.txt", kPathNotFound},
      {root_ + "/" + std::string(4096, 'd'), kBadFileName},
      {root_ + "/sub/" + std::string(300, 'd'), kBadFileName},
  };
  for (const auto& c : cases) {
    auto number = testing::ResultWithin(std::chrono::seconds(20), [&] {
      return FailureNumber([&] { Files().TemporaryName(c.directory, "up"); });
    });
    ASSERT_TRUE(number) << "no answer in time for " << c.directory.size();
    EXPECT_EQ(*number, c.number) << c.directory.size();
  }
}

TEST_F(FileSystemTest, APathTheSystemCannotTakeIsRefusedNotShortened) {
  // The system would read up to the NUL and act on "b.log".
  std::string cut = root_ + std::string("/b.log\0.jpg", 11);
  std::string shown = "Bad file name or number: " + root_ + "/b.log\\0.jpg";
  auto failure = CaughtFailure([&] { Files().Remove(cut); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, kBadFileName);
  EXPECT_EQ(failure->description, shown);
  for (auto call : std::vector<std::function<void()>>{
           [&] { Files().Find(cut); },
           [&] { Files().Stat(cut); },
           [&] { Files().ReadFile(cut); },
           [&] { Files().OpenWriter(cut, WriteMode::kCreate); },
           [&] { Files().Rename(root_ + "/a.txt", cut); },
           [&] { Files().RemoveUnlessReadOnly(cut); },
           [&] { Files().CopyFileData(root_ + "/a.txt", cut); },
           [&] { Files().ReadRegularFile(cut, 100); },
           [&] { Files().OpenDirectory(root_ + std::string("/sub\0x", 6)); },
       }) {
    EXPECT_EQ(FailureNumber(call), kBadFileName);
  }
  EXPECT_EQ(Files().ReadFile(root_ + "/b.log"), "bee");
  EXPECT_EQ(Files().ReadFile(root_ + "/a.txt"), "alpha");
  // A level longer than the system takes fails where a search would have
  // found nothing.
  std::string long_level = root_ + "/" + std::string(256, 'n');
  EXPECT_EQ(FailureNumber([&] { Files().Find(long_level); }), kBadFileName);
  EXPECT_EQ(FailureNumber([&] { Files().Find(long_level + "/*"); }),
            kBadFileName);
  EXPECT_TRUE(Files().Find(root_ + "/" + std::string(255, 'n')).empty());
  // An empty path names nothing, not the current directory.
  EXPECT_TRUE(Files().Find("").empty());
  EXPECT_FALSE(Files().Stat(""));
}

// A file system whose writes fail as a full disk does.
class FullDisk : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::unique_ptr<FileWriter> OpenWriter(std::string_view, WriteMode) override {
    throw FailureFromErrno(ENOSPC);
  }
};

TEST_F(FileSystemTest, AWrapperInjectsAFaultUntilItsScopeEnds) {
  FullDisk full(Files());
  {
    ScopedFileSystem scope(full);
    {
      auto failure = CaughtFailure(
          [&] { Files().OpenWriter(root_ + "/x", WriteMode::kCreate); });
      ASSERT_TRUE(failure);
      EXPECT_EQ(failure->number, kDiskFull);
    }
    EXPECT_EQ(Files().ReadFile(root_ + "/b.log"), "bee");
  }
  Files().OpenWriter(root_ + "/x", WriteMode::kCreate)->Close();
}

}  // namespace
}  // namespace corvane::platform

namespace corvane::platform {
namespace {

// A file size limit stops a copy midway, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  struct rlimit saved_ {};
  void (*previous_)(int) = nullptr;
};

TEST_F(FileSystemTest, ACopyShowsUnderItsNewNameOnlyWhenComplete) {
  std::string big(100000, 'x');
  Write("big", big);
  Write("old", "old");
  {
    FileSizeLimit limit(4096);
    EXPECT_THROW(CopyFileReplacing(root_ + "/big", root_ + "/new"), Failure);
    EXPECT_THROW(CopyFileReplacing(root_ + "/big", root_ + "/old"), Failure);
  }
  EXPECT_FALSE(PathEntryExists(root_ + "/new"));
  EXPECT_FALSE(PathEntryExists(root_ + std::string("/old\0x", 6)));
  EXPECT_FALSE(PathEntryExists(root_ + "/" + std::string(300, 'n')));
  EXPECT_EQ(Files().ReadFile(root_ + "/old"), "old");
  CopyFileReplacing(root_ + "/big", root_ + "/new");
  EXPECT_EQ(Files().ReadFile(root_ + "/new"), big);
  try {
    Files().CopyFileData(root_ + "/a.txt", root_ + "/new");
    ADD_FAILURE() << "an existing name was taken";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number, kFileAlreadyExists);
  }
  EXPECT_EQ(Files().ReadFile(root_ + "/new"), big);
  EXPECT_EQ(Sorted(Names("*")),
            Sorted({".", "..", "a.txt", "b.log", "readme", ".hidden", "sub",
                    ".hiddendir", "big", "old", "new"}));
}

}  // namespace
}  // namespace corvane::platform

namespace corvane::platform {
namespace {

TEST_F(FileSystemTest, AListingThatFailsPartWayClosesItsDirectory) {
  // Names too long to be kept inside a string: each entry takes an
  // allocation, so the sweep fails the listings inside their loops over the
  // entries, not only before them.
  for (int n = 0; n < 20; ++n) {
    Write("an-entry-with-a-long-name-" + std::to_string(n), "x");
  }
  auto found = testing::SweepAllocations([&] { Files().Find(root_ + "/*"); });
  EXPECT_EQ(found.leaked_at, -1);
  EXPECT_GT(found.runs, 20);
  auto directory = Files().OpenDirectory(root_);
  auto listed = testing::SweepAllocations([&] { directory->Entries(); });
  EXPECT_EQ(listed.leaked_at, -1);
  EXPECT_GT(listed.runs, 20);
}

// The files go in the file system's order, yet a read-only one stops the
// removals where it stands in the order given: those before it are gone,
// it and those after it stay.
TEST_F(FileSystemTest, RemoveFilesStopsAtAReadOnlyFileInTheOrderGiven) {
  for (int n = 0; n < 40; ++n) Write("f" + std::to_string(n), "x");
  auto directory = Files().OpenDirectory(root_ + "/");
  std::vector<DirectoryHandle::Entry> files;
  for (auto& entry : directory->Entries()) {
    if (entry.name.starts_with('f')) files.push_back(entry);
  }
  ASSERT_EQ(files.size(), 40U);
  // Given against the inodes' order, so that the two orders differ.
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.inode > b.inode; });
  ASSERT_NE(files.back().inode, files.front().inode);
  const size_t read_only = 25;
  const std::string stopper = root_ + "/" + files[read_only].name;
  fs::permissions(stopper, fs::perms::owner_read, fs::perm_options::replace);
  EXPECT_EQ(FailureNumber([&] { directory->RemoveFiles(files); }), 75);
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(fs::exists(root_ + "/" + files[i].name), i >= read_only) << i;
  }
  fs::permissions(stopper, fs::perms::owner_all);
  directory->RemoveFiles(std::span(files).subspan(read_only));
  for (const auto& file : files) {
    EXPECT_FALSE(fs::exists(root_ + "/" + file.name)) << file.name;
  }
}

}  // namespace
}  // namespace corvane::platform

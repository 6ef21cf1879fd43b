// SPDX-License-Identifier: Apache-2.0
// Vantry driven through a file system rooted in one directory, as the
// console drives it: paths as a person sees them inside the root, and
// nothing outside it read, written or removed, however the tree changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <thread>

#include "filemgmt/Vantry.h"
#include "filemgmt/tests/TestTree.h"
#include "frame/Collection.h"
#include "platform/FileSystem.h"
#include "platform/RootHandle.h"
#include "platform/RootedFileSystem.h"

namespace corvane::vantry {
namespace {

namespace fs = std::filesystem;
using testing::TestTree;

std::vector<std::string> Names(const Variant::Object& collection) {
  std::vector<std::string> names;
  for (const Variant& item : collection->Enumerate()) {
    names.push_back(item.ToObject()->Get("Name").ToText());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Each case runs through openat2 and through the fall-back walk. The tree
// holds root/ (the root) and outside/, which nothing may touch.
class RootedVantryTest : public ::testing::TestWithParam<bool> {
 protected:
  RootedVantryTest() {
    if (GetParam()) walk_.emplace();
    tree_.Put("root/docs/a.txt", "alpha");
    tree_.Dir("root/docs/sub");
    tree_.Put("outside/secret.txt", "secret");
    fs::create_symlink(tree_ / "outside/secret.txt", tree_ / "root/docs/out");
    fs::create_directory_symlink(tree_ / "outside", tree_ / "root/docs/escape");
    fs::create_symlink("../../outside", tree_ / "root/docs/up");
    fs::create_directory_symlink("sub", tree_ / "root/docs/inside");
    fs::create_symlink("/proc/self/root", tree_ / "root/docs/proc");
    handle_.emplace(tree_ / "root");
    rooted_.emplace(*handle_);
    scope_.emplace(*rooted_);
  }

  // Whether the last failure names `path` and neither a descriptor nor the
  // root's real place.
  void ExpectNamed(const std::string& path) const {
    std::string text = vantry_.GetLastErrDescription();
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_EQ(text.find("/proc/self/fd"), std::string::npos) << text;
    EXPECT_EQ(text.find(tree_ / "root"), std::string::npos) << text;
  }

  void ExpectOutsideUntouched() const {
    EXPECT_EQ(tree_.Names("outside"), std::set<std::string>{"secret.txt"});
    EXPECT_EQ(tree_.Read("outside/secret.txt"), "secret");
  }

  std::optional<platform::ScopedFallbackWalk> walk_;
  TestTree tree_;
  std::optional<platform::RootHandle> handle_;
  std::optional<platform::RootedFileSystem> rooted_;
  std::optional<platform::ScopedThreadFileSystem> scope_;
  Vantry vantry_;
};

TEST_P(RootedVantryTest, WorksOnThePathsAsSeenInsideTheRoot) {
  ASSERT_EQ(vantry_.ReadDir("/docs"), 1);
  EXPECT_EQ(Names(vantry_.Get("SubDirs").ToObject()),
            (std::vector<std::string>{"inside", "sub"}));
  // Links that lead out are listed as themselves (system entries), never
  // as what they name; a /proc link is one of them.
  EXPECT_EQ(Names(vantry_.Get("Files").ToObject()),
            (std::vector<std::string>{"a.txt", "escape", "out", "proc", "up"}));
  for (const Variant& item : vantry_.Get("Files").ToObject()->Enumerate()) {
    auto record = item.ToObject();
    if (record->Get("Name").ToText() == "a.txt") continue;
    EXPECT_EQ(record->Get("Attr").ToInt16() & 4, 4);
  }
  // The root itself is "/." (Vantry takes no directory of separators only).
  ASSERT_EQ(vantry_.ReadDir("/."), 1);
  EXPECT_EQ(Names(vantry_.Get("SubDirs").ToObject()),
            std::vector<std::string>{"docs"});
  EXPECT_EQ(vantry_.ReadFile("/docs/a.txt"), "alpha");
  EXPECT_EQ(vantry_.ReadFile("docs/inside/../a.txt"), "alpha");
  EXPECT_EQ(vantry_.WriteFile("/docs/inside/new.txt", "fresh"), 5);
  EXPECT_EQ(tree_.Read("root/docs/sub/new.txt"), "fresh");
  EXPECT_EQ(vantry_.WriteFile("/docs/inside/new.txt", "again"), 5);
  EXPECT_EQ(tree_.Names("root/docs/sub"), std::set<std::string>{"new.txt"});
  EXPECT_EQ(vantry_.CopyFile("/docs/a.txt", "/docs/sub/a.txt"), 1);
  EXPECT_EQ(vantry_.CopyFileEx("/docs/inside", "/docs", "*.txt"), 1);
  EXPECT_EQ(tree_.Read("root/docs/new.txt"), "again");
  EXPECT_EQ(vantry_.CopyFileEx("/docs", "/.", "a.txt"), 1);
  EXPECT_EQ(tree_.Read("root/a.txt"), "alpha");
  EXPECT_EQ(vantry_.MakeDir("/docs/made"), 1);
  EXPECT_EQ(vantry_.RenameDir("/docs/new.txt", "/docs/made/moved.txt"), 1);
  EXPECT_EQ(vantry_.SetFDAttr("/docs/made/moved.txt", 1), 1);
  EXPECT_EQ(vantry_.GetFDAttr("/docs/made/moved.txt") & 1, 1);
  EXPECT_EQ(vantry_.ReadFileLength("/docs/made/moved.txt"), 5);
  EXPECT_EQ(vantry_.SetFDAttr("/docs/made/moved.txt", 0), 1);
  EXPECT_EQ(vantry_.DeleteDir("/docs/made"), 1);
  EXPECT_FALSE(tree_.Has("root/docs/made"));
  EXPECT_EQ(vantry_.DeleteFile("/docs/sub/a.txt"), 1);
  EXPECT_GT(vantry_.GetDiskFreeSpace("/").value, 0);
  EXPECT_EQ(vantry_.IsDirExists("/docs/inside"), 1);
  // Another thread keeps the process's file system meanwhile.
  bool posix_there = false;
  std::thread([&] {
    posix_there =
        platform::Files().Stat(tree_ / "outside/secret.txt").has_value();
  }).join();
  EXPECT_TRUE(posix_there);
  EXPECT_FALSE(platform::Files().Stat(tree_ / "outside/secret.txt"));
}

TEST_P(RootedVantryTest, NothingOutsideIsReachedByLinksClimbsOrProc) {
  for (const char* path :
       {"/docs/out", "/docs/escape/secret.txt", "/docs/up/secret.txt",
        "/../outside/secret.txt", "docs/../../outside/secret.txt",
        "/docs/proc/etc/hostname"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(vantry_.ReadFile(path), "");
    EXPECT_NE(vantry_.GetLastErrNum(), 0);
    ExpectNamed(path);
    EXPECT_EQ(vantry_.WriteFile(path, "overwritten"), -1);
    EXPECT_EQ(vantry_.CopyFile("/docs/a.txt", path), -1);
    EXPECT_EQ(vantry_.DeleteFile(path), 0);
    EXPECT_EQ(vantry_.GetFDAttr(path), -1);
    EXPECT_EQ(vantry_.SetFDAttr(path, 1), -1);
  }
  EXPECT_EQ(vantry_.ReadFile("/docs/out"), "");
  EXPECT_EQ(vantry_.GetLastErrNum(), 75);
  EXPECT_EQ(vantry_.MakeDir("/docs/escape/made"), -1);
  ExpectNamed("/docs/escape/made");
  EXPECT_EQ(vantry_.ReadDir("/docs/escape"), 0);
  EXPECT_EQ(vantry_.ReadDir("/docs/up/"), 0);
  EXPECT_EQ(vantry_.DeleteDir("/docs/escape"), 0);
  EXPECT_EQ(vantry_.CopyFileEx("/docs/escape", "/docs/sub", "*"), 0);
  EXPECT_EQ(vantry_.CopyFileEx("/docs", "/docs/escape", "*"), 0);
  EXPECT_EQ(vantry_.RenameDir("/docs/a.txt", "/docs/escape/a.txt"), -1);
  EXPECT_EQ(vantry_.RenameDir("/docs/a.txt", "/../a.txt"), -1);
  EXPECT_EQ(vantry_.GetFileInfo("/docs/escape/secret.txt"), nullptr);
  // An absolute path names a place below the root, never the system's.
  EXPECT_EQ(vantry_.IsFileExists(tree_ / "outside/secret.txt"), 0);
  EXPECT_EQ(vantry_.ReadFile("/etc/hostname"), "");
  ExpectOutsideUntouched();
  EXPECT_TRUE(fs::is_symlink(tree_ / "root/docs/out"));
}

TEST_P(RootedVantryTest, ALevelSwappedForALinkBetweenCallsLeadsNowhere) {
  ASSERT_EQ(vantry_.ReadDir("/docs/sub"), 1);
  ASSERT_EQ(vantry_.WriteFile("/docs/sub/kept.txt", "kept"), 4);
  fs::rename(tree_ / "root/docs/sub", tree_ / "root/docs/old");
  fs::create_directory_symlink(tree_ / "outside", tree_ / "root/docs/sub");
  EXPECT_EQ(vantry_.ReadDir("/docs/sub"), 0);
  EXPECT_EQ(vantry_.ReadFile("/docs/sub/secret.txt"), "");
  ExpectNamed("/docs/sub/secret.txt");
  EXPECT_EQ(vantry_.WriteFile("/docs/sub/kept.txt", "swapped"), -1);
  EXPECT_EQ(vantry_.DeleteFile("/docs/sub/secret.txt"), 0);
  EXPECT_EQ(vantry_.DeleteDir("/docs/sub"), 0);
  EXPECT_EQ(vantry_.CopyFileEx("/docs", "/docs/sub", "*.txt"), 0);
  EXPECT_EQ(vantry_.MakeDir("/docs/sub/made"), -1);
  ExpectOutsideUntouched();
  EXPECT_EQ(tree_.Read("root/docs/old/kept.txt"), "kept");
}

TEST_P(RootedVantryTest, MagicLinksOfProcAreRefusedUnderARootAtProc) {
  platform::RootHandle process("/proc/self");
  platform::RootedFileSystem files(process);
  platform::ScopedThreadFileSystem inner(files);
  EXPECT_NE(vantry_.ReadFile("/status"), "");
  for (const char* path : {"/root/etc/hostname", "/cwd", "/exe", "/fd/0"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(vantry_.ReadFile(path), "");
    EXPECT_EQ(vantry_.GetLastErrNum(), 75);
    ExpectNamed(path);
  }
}

INSTANTIATE_TEST_SUITE_P(BothWays, RootedVantryTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Walk" : "Openat2";
                         });

}  // namespace
}  // namespace corvane::vantry

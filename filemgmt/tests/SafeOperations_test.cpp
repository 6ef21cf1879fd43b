// SPDX-License-Identifier: Apache-2.0
// The operations that must not lose or reach beyond data: the walk of
// DeleteDir against links, WriteFile and CopyFile against failures midway
// and copies onto themselves, RenameDir against an existing name, ReadFile
// against what is no file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "filemgmt/Vantry.h"
#include "filemgmt/tests/TestTree.h"
#include "platform/tests/FillingDisk.h"

namespace corvane::vantry {
namespace {

using testing::TestTree;
namespace fs = std::filesystem;

class SafeOperationsTest : public ::testing::Test {
 protected:
  TestTree tree;
  Vantry vantry;
};

TEST_F(SafeOperationsTest, DeleteDirRemovesLinksWithoutFollowingThem) {
  tree.Put("outside/precious", "keep");
  tree.Put("outside/deeper/precious", "keep");
  tree.Put("d/own", "x");
  fs::create_directory_symlink(tree / "outside", tree / "d/dirlink");
  fs::create_symlink(tree / "outside/precious", tree / "d/filelink");
  EXPECT_EQ(vantry.DeleteDir(tree / "d"), 1);
  EXPECT_FALSE(tree.Has("d"));
  EXPECT_EQ(tree.Read("outside/precious"), "keep");
  EXPECT_EQ(tree.Read("outside/deeper/precious"), "keep");
}

TEST_F(SafeOperationsTest, DeleteDirRefusesANamedDirectoryThatIsALink) {
  tree.Put("outside/precious", "keep");
  fs::create_directory_symlink(tree / "outside", tree / "link");
  EXPECT_EQ(vantry.DeleteDir(tree / "link"), -1);
  EXPECT_EQ(tree.Read("outside/precious"), "keep");
}

// Swaps the directory `victim` for a link, as another process could, at the
// first step of the walk that deletes something or looks at the victim,
// whichever way the walk goes about it.
class SwappingFileSystem : public platform::ForwardingFileSystem {
 public:
  SwappingFileSystem(FileSystem& inner, std::function<void()> swap)
      : ForwardingFileSystem(inner), swap_(std::move(swap)) {}

  std::vector<platform::FileInfo> Find(std::string_view pattern) override {
    if (pattern.find("victim") != std::string_view::npos) Swap();
    return inner_.Find(pattern);
  }
  void Remove(std::string_view path) override {
    Swap();
    inner_.Remove(path);
  }
  void RemoveUnlessReadOnly(std::string_view path) override {
    Swap();
    inner_.RemoveUnlessReadOnly(path);
  }
  std::unique_ptr<platform::DirectoryHandle> OpenDirectory(
      std::string_view path) override {
    return Wrap(inner_.OpenDirectory(path));
  }

 private:
  class Handle : public platform::DirectoryHandle {
   public:
    Handle(std::unique_ptr<DirectoryHandle> inner, SwappingFileSystem& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    std::vector<Entry> Entries() override { return inner_->Entries(); }
    std::unique_ptr<DirectoryHandle> OpenSubdirectory(
        std::string_view name) override {
      if (name == "victim") owner_.Swap();
      return owner_.Wrap(inner_->OpenSubdirectory(name));
    }
    void RemoveFile(std::string_view name) override {
      owner_.Swap();
      inner_->RemoveFile(name);
    }
    void RemoveSubdirectory(std::string_view name) override {
      inner_->RemoveSubdirectory(name);
    }

   private:
    std::unique_ptr<DirectoryHandle> inner_;
    SwappingFileSystem& owner_;
  };

  void Swap() {
    if (swap_) std::exchange(swap_, {})();
  }
  std::unique_ptr<platform::DirectoryHandle> Wrap(
      std::unique_ptr<platform::DirectoryHandle> handle) {
    return std::make_unique<Handle>(std::move(handle), *this);
  }

  std::function<void()> swap_;
};

TEST_F(SafeOperationsTest, DeleteDirCannotBeRedirectedWhileItWalks) {
  tree.Put("outside/precious", "keep");
  tree.Put("d/victim/file", "x");
  tree.Put("d/other", "x");
  SwappingFileSystem swapping(platform::Files(), [&] {
    fs::rename(tree / "d/victim", tree / "moved");
    fs::create_directory_symlink(tree / "outside", tree / "d/victim");
  });
  platform::ScopedFileSystem scoped(swapping);
  EXPECT_EQ(vantry.DeleteDir(tree / "d"), -1);
  EXPECT_EQ(tree.Read("outside/precious"), "keep");
  EXPECT_EQ(vantry.GetLastErrDescription(), "Not able to delete the directory");
}

using platform::testing::FillingDisk;

TEST_F(SafeOperationsTest, AFullDiskLeavesTheOldFileAndNoTemporary) {
  tree.Put("target", "old content");
  tree.Put("source", "a much longer new content");
  FillingDisk disk(platform::Files(), 4);
  platform::ScopedFileSystem scoped(disk);
  EXPECT_EQ(vantry.WriteFile(tree / "target", "new content, longer"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kDiskFull);
  EXPECT_EQ(vantry.CopyFile(tree / "source", tree / "target"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kDiskFull);
  EXPECT_EQ(tree.Read("target"), "old content");
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"target", "source"}));
}

TEST_F(SafeOperationsTest, ACopyOntoItselfLeavesTheFileIntact) {
  tree.Put("file", "content");
  fs::create_hard_link(tree / "file", tree / "hardlink");
  fs::create_symlink(tree / "file", tree / "symlink");
  for (std::string other : {"file", "hardlink", "symlink", "./file"}) {
    EXPECT_EQ(vantry.CopyFile(tree / "file", tree / other), 1) << other;
    EXPECT_EQ(tree.Read("file"), "content") << other;
    EXPECT_EQ(tree.Read(other), "content") << other;
  }
  EXPECT_EQ(vantry.CopyFileEx(tree / "", tree / "", "*"), 1);
  EXPECT_EQ(tree.Read("file"), "content");
  EXPECT_EQ(tree.Names(),
            (std::set<std::string>{"file", "hardlink", "symlink"}));
}

TEST_F(SafeOperationsTest, RenameDirRefusesAnExistingName) {
  tree.Put("a", "first");
  tree.Put("b", "second");
  tree.Put("d1/x", "1");
  tree.Dir("d2");
  EXPECT_EQ(vantry.RenameDir(tree / "a", tree / "b"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kFileAlreadyExists);
  EXPECT_EQ(vantry.RenameDir(tree / "d1", tree / "d2"), -1);
  EXPECT_EQ(tree.Read("a"), "first");
  EXPECT_EQ(tree.Read("b"), "second");
  EXPECT_EQ(tree.Read("d1/x"), "1");
}

TEST_F(SafeOperationsTest, ReadFileOfAFifoOrDeviceReturnsAtOnce) {
  ASSERT_EQ(::mkfifo((tree / "fifo").c_str(), 0600), 0);
  for (std::string path : {tree / "fifo", std::string("/dev/zero")}) {
    EXPECT_EQ(vantry.ReadFile(path), "") << path;
    EXPECT_EQ(vantry.GetLastErrNum(), kPathFileAccessError) << path;
  }
}

}  // namespace
}  // namespace corvane::vantry

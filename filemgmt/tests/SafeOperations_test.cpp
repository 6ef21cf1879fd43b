// SPDX-License-Identifier: Apache-2.0
// The operations that must not lose or reach beyond data: the walk of
// DeleteDir against links, WriteFile and CopyFile against failures midway
// and copies onto themselves, RenameDir against an existing name, ReadFile
// against what is no file; paths that name no directory of their own or
// that the system cannot take; links in the source of CopyFileEx.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <vector>

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
    void CopyFileOut(std::string_view name, std::string_view to) override {
      inner_->CopyFileOut(name, to);
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

// Records every call and carries out none, so that a walk that went for
// the file-system root would show here and reach nothing.
class RefusingEverything : public platform::FileSystem {
 public:
  std::vector<std::string> calls;

  std::vector<platform::FileInfo> Find(std::string_view p) override {
    Refuse("Find", p);
  }
  std::optional<platform::FileInfo> Stat(std::string_view p) override {
    Refuse("Stat", p);
  }
  std::string ReadFile(std::string_view p) override { Refuse("ReadFile", p); }
  std::unique_ptr<platform::FileReader> OpenReader(
      std::string_view p) override {
    Refuse("OpenReader", p);
  }
  std::unique_ptr<platform::FileWriter> OpenWriter(
      std::string_view p, platform::WriteMode) override {
    Refuse("OpenWriter", p);
  }
  void Rename(std::string_view p, std::string_view) override {
    Refuse("Rename", p);
  }
  void Remove(std::string_view p) override { Refuse("Remove", p); }
  void CreateDirectory(std::string_view p) override {
    Refuse("CreateDirectory", p);
  }
  void RemoveDirectory(std::string_view p) override {
    Refuse("RemoveDirectory", p);
  }
  void SetAttributes(std::string_view p, uint32_t) override {
    Refuse("SetAttributes", p);
  }
  uint64_t FreeSpace(std::string_view p) override { Refuse("FreeSpace", p); }
  std::string TemporaryName(std::string_view p, std::string_view) override {
    Refuse("TemporaryName", p);
  }
  std::unique_ptr<platform::DirectoryHandle> OpenDirectory(
      std::string_view p) override {
    Refuse("OpenDirectory", p);
  }
  void RemoveUnlessReadOnly(std::string_view p) override {
    Refuse("RemoveUnlessReadOnly", p);
  }
  void RenameNoReplace(std::string_view p, std::string_view) override {
    Refuse("RenameNoReplace", p);
  }
  void CopyFileData(std::string_view p, std::string_view) override {
    Refuse("CopyFileData", p);
  }
  std::string ReadRegularFile(std::string_view p, uint64_t) override {
    Refuse("ReadRegularFile", p);
  }
  bool EntryExists(std::string_view p) override {
    calls.push_back("EntryExists " + std::string(p));
    return false;
  }

 private:
  [[noreturn]] void Refuse(const char* call, std::string_view path) {
    calls.push_back(std::string(call) + " " + std::string(path));
    throw FailureFromErrno(EACCES, std::string(path));
  }
};

TEST_F(SafeOperationsTest, AnEmptyDirectoryPathIsRefusedBeforeAnyCall) {
  RefusingEverything refusing;
  platform::ScopedFileSystem scoped(refusing);
  std::string some = tree / "d";
  using Member = std::function<int16_t(Vantry&, const std::string&)>;
  const std::vector<std::pair<std::string, Member>> members = {
      {"DeleteDir", [](Vantry& v, auto& p) { return v.DeleteDir(p); }},
      {"ReadDir", [](Vantry& v, auto& p) { return v.ReadDir(p); }},
      {"CopyFileEx from",
       [&](Vantry& v, auto& p) { return v.CopyFileEx(p, some, {}); }},
      {"CopyFileEx to",
       [&](Vantry& v, auto& p) { return v.CopyFileEx(some, p, {}); }},
      {"MakeDir", [](Vantry& v, auto& p) { return v.MakeDir(p); }},
      {"RenameDir", [&](Vantry& v, auto& p) { return v.RenameDir(p, some); }},
      {"IsDirExists", [](Vantry& v, auto& p) { return v.IsDirExists(p); }},
  };
  for (std::string path : {"", "/", "//", "///"}) {
    for (const auto& [member, call] : members) {
      Vantry fresh;
      EXPECT_EQ(call(fresh, path), -1) << member << " '" << path << "'";
      EXPECT_EQ(fresh.GetLastErrNum(), kPathNotFound) << member;
      EXPECT_EQ(fresh.GetLastErrSource(), "Vantry") << member;
    }
  }
  EXPECT_EQ(refusing.calls, std::vector<std::string>{});
}

TEST_F(SafeOperationsTest, APathWithANulIsARecordedFailureAndTouchesNothing) {
  tree.Put("b.txt", "keep");
  std::string cut = tree / std::string("b.txt\0.jpg", 10);
  EXPECT_EQ(vantry.DeleteFile(cut), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kBadFileName);
  EXPECT_EQ(vantry.GetLastErrDescription(),
            "Bad file name or number: " + (tree / "b.txt\\0.jpg"));
  EXPECT_EQ(vantry.WriteFile(cut, "new"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kBadFileName);
  EXPECT_EQ(vantry.ReadFile(cut), "");
  EXPECT_EQ(vantry.GetLastErrNum(), kBadFileName);
  EXPECT_EQ(vantry.IsFileExists(cut), -1);
  EXPECT_EQ(vantry.CopyFile(tree / "b.txt", cut), -1);
  EXPECT_EQ(vantry.ReadDir(tree / std::string("\0", 1)), -1);
  EXPECT_EQ(tree.Read("b.txt"), "keep");
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"b.txt"}));
}

TEST_F(SafeOperationsTest, ALevelLongerThanTheSystemTakesIsRecorded) {
  std::string long_name = tree / std::string(300, 'n');
  EXPECT_EQ(vantry.IsFileExists(long_name), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kBadFileName);
  EXPECT_EQ(vantry.DeleteFile(long_name), -1);
  EXPECT_EQ(vantry.ReadDir(long_name), -1);
  EXPECT_EQ(vantry.IsDirExists(long_name), -1);
}

TEST_F(SafeOperationsTest, FailuresNameTheFileTheCallerGave) {
  EXPECT_EQ(vantry.WriteFile(tree / "nodir/x.txt", "text"), -1);
  EXPECT_EQ(vantry.GetLastErrDescription(),
            "File not found: " + (tree / "nodir/x.txt"));
  tree.Put("file", "x");
  EXPECT_EQ(vantry.WriteFile(tree / "file/x.txt", "text"), -1);
  EXPECT_EQ(vantry.GetLastErrDescription(),
            "Path not found: " + (tree / "file/x.txt"));
  EXPECT_EQ(tree.Names(), (std::set<std::string>{"file"}));
}

// Swaps the file `swapped` in the source directory for a link once the
// copy has listed what it will copy.
class SwapAtTheListing : public platform::ForwardingFileSystem {
 public:
  SwapAtTheListing(FileSystem& inner, std::function<void()> swap)
      : ForwardingFileSystem(inner), swap_(std::move(swap)) {}
  std::vector<platform::FileInfo> Find(std::string_view pattern) override {
    auto found = inner_.Find(pattern);
    if (pattern.ends_with("/*") && swap_) std::exchange(swap_, {})();
    return found;
  }

 private:
  std::function<void()> swap_;
};

TEST_F(SafeOperationsTest, CopyFileExNeverReadsThroughALink) {
  tree.Put("outside/secret", "secret");
  tree.Put("src/plain", "plain");
  tree.Dir("dst");
  fs::create_symlink(tree / "outside/secret", tree / "src/link");
  EXPECT_EQ(vantry.CopyFileEx(tree / "src", tree / "dst", "*"), 1);
  EXPECT_EQ(tree.Names("dst"), (std::set<std::string>{"plain"}));

  // A link swapped in for a file after the listing is refused.
  tree.Put("src2/swapped", "own");
  tree.Dir("dst2");
  SwapAtTheListing swapping(platform::Files(), [&] {
    fs::remove(tree / "src2/swapped");
    fs::create_symlink(tree / "outside/secret", tree / "src2/swapped");
  });
  platform::ScopedFileSystem scoped(swapping);
  EXPECT_EQ(vantry.CopyFileEx(tree / "src2", tree / "dst2", "*"), -1);
  EXPECT_EQ(vantry.GetLastErrNum(), kPathFileAccessError);
  EXPECT_EQ(tree.Names("dst2"), (std::set<std::string>{}));
}

}  // namespace
}  // namespace corvane::vantry

// SPDX-License-Identifier: Apache-2.0
#include "gateway/UploadRoot.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/RootHandle.h"
#include "upload/tests/TestDirectory.h"

namespace corvane::wharfpost {
namespace {

using cargane::testing::TestDirectory;
namespace fs = std::filesystem;

TEST(ConfinedUploadDirectory, StaysInsideTheRoot) {
  TestDirectory scratch;
  fs::create_directories(scratch / "root/in");
  fs::create_directories(scratch / "outside");
  fs::create_symlink(scratch / "outside", scratch / "root/out");
  fs::create_symlink(scratch / "root/in", scratch / "root/alias");
  fs::create_symlink(scratch / "nowhere", scratch / "root/dangling");
  std::string root = scratch / "root";
  std::string real_root = fs::canonical(root).string();

  struct Case {
    std::string requested;
    std::string inside;  // the directory under the root; "!" for refused
  };
  const Case cases[] = {
      {"a/b", "a/b"},
      {"a\\b\\", "a/b"},
      {"./a/../in", "in"},
      {".", ""},
      {root + "/in/x", "in/x"},
      {root + "/../root/in", "in"},
      {"alias/y", "in/y"},
      {"..", "!"},
      {"a/../../outside", "!"},
      {scratch / "outside", "!"},
      {root + "x/a", "!"},
      {"out/x", "!"},
      {"dangling/x", "!"},
      {"/", "!"},
      // A cookie's "%00" decodes to a NUL, which no path can hold.
      {std::string("a\0b/c", 5), "!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.requested);
    auto directory = ConfinedUploadDirectory(root, c.requested);
    if (c.inside == "!") {
      EXPECT_FALSE(directory);
      continue;
    }
    ASSERT_TRUE(directory);
    std::string expected = real_root + "/" + c.inside;
    if (expected.back() != '/') expected += '/';
    EXPECT_EQ(*directory, expected);
    EXPECT_TRUE(fs::is_directory(*directory));
  }
  EXPECT_TRUE(fs::is_empty(scratch / "outside"));
  EXPECT_FALSE(fs::exists(scratch / "nowhere"));
}

TEST(ConfinedUploadDirectory, TheFallBackWalkKeepsTheSameLinksOut) {
  TestDirectory scratch;
  fs::create_directories(scratch / "root/in");
  fs::create_directories(scratch / "outside");
  fs::create_symlink(scratch / "outside", scratch / "root/out");
  fs::create_symlink("../outside", scratch / "root/climb");
  fs::create_symlink(scratch / "root/in", scratch / "root/alias");
  fs::create_symlink("in", scratch / "root/near");
  fs::create_symlink("/proc/self/cwd", scratch / "root/proc");
  std::string root = scratch / "root";
  std::string real_root = fs::canonical(root).string();
  platform::ScopedFallbackWalk walk;
  EXPECT_EQ(ConfinedUploadDirectory(root, "alias/a"), real_root + "/in/a/");
  EXPECT_EQ(ConfinedUploadDirectory(root, "near/b"), real_root + "/in/b/");
  for (const char* refused : {"out/x", "climb/x", "proc/x", "in/../../x"}) {
    EXPECT_FALSE(ConfinedUploadDirectory(root, refused)) << refused;
  }
  EXPECT_TRUE(fs::is_empty(scratch / "outside"));
}

TEST(ConfinedUploadDirectory, RootMustBeAnAbsoluteExistingDirectory) {
  TestDirectory scratch;
  EXPECT_FALSE(ConfinedUploadDirectory("", "a"));
  EXPECT_FALSE(ConfinedUploadDirectory("relative/root", "a"));
  EXPECT_FALSE(ConfinedUploadDirectory(scratch / "missing", "a"));
  EXPECT_FALSE(fs::exists(scratch / "missing"));
}

std::string Levels(size_t count) {
  std::string path;
  for (size_t i = 0; i < count; ++i) path += "d/";
  return path;
}

// Refuses to create the directory at a given depth, as a full disk or a
// name too long does.
class RefusingDeepLevel : public platform::ForwardingFileSystem {
 public:
  RefusingDeepLevel(FileSystem& inner, std::string refused)
      : ForwardingFileSystem(inner), refused_(std::move(refused)) {}
  void CreateDirectory(std::string_view path) override {
    if (path.ends_with(refused_)) throw FailureFromErrno(ENAMETOOLONG);
    inner_.CreateDirectory(path);
  }

 private:
  std::string refused_;
};

// Once `made` exists, puts a new empty level in place of the first one, as
// another process renaming the tree away meanwhile would.
class SwappingFirstLevel : public platform::ForwardingFileSystem {
 public:
  SwappingFirstLevel(FileSystem& inner, std::string made, std::string first)
      : ForwardingFileSystem(inner),
        made_(std::move(made)),
        first_(std::move(first)) {}
  void CreateDirectory(std::string_view path) override {
    inner_.CreateDirectory(path);
    if (path != made_) return;
    fs::rename(first_, first_ + "-moved");
    fs::create_directory(first_);
  }

 private:
  std::string made_;
  std::string first_;
};

TEST(ConfinedUploadDirectory, CreatesNothingUnlessEveryLevelCanBe) {
  TestDirectory scratch;
  std::string root = scratch / "root";
  fs::create_directories(root);
  // Too deep: refused before anything is created.
  EXPECT_TRUE(ConfinedUploadDirectory(root, Levels(kDeepestUploadDirectory)));
  fs::remove_all(root + "/d");
  EXPECT_FALSE(
      ConfinedUploadDirectory(root, Levels(kDeepestUploadDirectory + 1)));
  EXPECT_TRUE(fs::is_empty(root));
  // Checking creates nothing.
  EXPECT_TRUE(PlanUploadDirectory(root, "a/b"));
  EXPECT_TRUE(fs::is_empty(root));
  // A level that cannot be created takes the ones made before it back.
  fs::create_directories(root + "/kept");
  RefusingDeepLevel refusing(platform::Files(), "/x/y/z");
  platform::ScopedFileSystem scoped(refusing);
  EXPECT_FALSE(ConfinedUploadDirectory(root, "kept/x/y/z/w"));
  EXPECT_TRUE(fs::is_empty(root + "/kept"));
}

TEST(ConfinedUploadDirectory, ALevelChangedWhileMadeTakesTheMadeOnesBack) {
  TestDirectory scratch;
  std::string root = scratch / "root";
  fs::create_directories(root);
  SwappingFirstLevel swapping(platform::Files(), root + "/a/b", root + "/a");
  platform::ScopedFileSystem scoped(swapping);
  // The finished directory is no longer there when it is checked: refused,
  // and the levels made on the way are removed again.
  EXPECT_FALSE(ConfinedUploadDirectory(root, "a/b"));
  EXPECT_FALSE(fs::exists(root + "/a"));
  EXPECT_TRUE(fs::is_directory(root + "/a-moved/b"));
}

TEST(TreeBytes, CountsEveryLevelWithoutFollowingLinks) {
  TestDirectory scratch;
  scratch.Put("root/a", std::string(10, 'a'));
  scratch.Put("root/one/b", std::string(200, 'b'));
  scratch.Put("root/one/two/.c", std::string(3000, 'c'));
  scratch.Put("outside/big", std::string(40000, 'o'));
  fs::create_symlink(scratch / "outside", scratch / "root/one/out");
  fs::create_symlink(scratch / "root", scratch / "root/loop");
  EXPECT_EQ(TreeBytes(scratch / "root"), 3210);
  EXPECT_THROW(TreeBytes(scratch / "missing"), Failure);
}

}  // namespace
}  // namespace corvane::wharfpost

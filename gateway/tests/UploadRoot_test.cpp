// SPDX-License-Identifier: Apache-2.0
#include "gateway/UploadRoot.h"

#include <gtest/gtest.h>

#include <filesystem>

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
      {"a/b", "a/b"},           {"a\\b\\", "a/b"},
      {"./a/../in", "in"},      {".", ""},
      {root + "/in/x", "in/x"}, {root + "/../root/in", "in"},
      {"alias/y", "in/y"},      {"..", "!"},
      {"a/../../outside", "!"}, {scratch / "outside", "!"},
      {root + "x/a", "!"},      {"out/x", "!"},
      {"dangling/x", "!"},      {"/", "!"},
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

TEST(ConfinedUploadDirectory, RootMustBeAnAbsoluteExistingDirectory) {
  TestDirectory scratch;
  EXPECT_FALSE(ConfinedUploadDirectory("", "a"));
  EXPECT_FALSE(ConfinedUploadDirectory("relative/root", "a"));
  EXPECT_FALSE(ConfinedUploadDirectory(scratch / "missing", "a"));
  EXPECT_FALSE(fs::exists(scratch / "missing"));
}

}  // namespace
}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "platform/HeldPath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/FileSystem.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

class HeldPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-held-XXXXXX";
    scratch_ = mkdtemp(pattern);
    root_ = scratch_ + "/root";
    fs::create_directories(root_ + "/dir/deeper");
    fs::create_directories(scratch_ + "/outside");
    std::ofstream(root_ + "/dir/file.txt") << "inside";
    std::ofstream(scratch_ + "/outside/file.txt") << "outside";
    fs::create_directory_symlink(scratch_ + "/outside", root_ + "/out");
    fs::create_symlink(scratch_ + "/outside/file.txt", root_ + "/dir/link");
  }
  void TearDown() override { fs::remove_all(scratch_); }

  std::string scratch_;
  std::string root_;
};

TEST_F(HeldPathTest, NoLevelIsFollowedWhenItIsALink) {
  struct Case {
    std::vector<std::string> levels;
    bool held;
  };
  const Case cases[] = {
      {{}, true},
      {{"dir"}, true},
      {{"dir", "file.txt"}, true},
      {{"dir", "deeper"}, true},
      {{"out"}, false},
      {{"out", "file.txt"}, false},
      {{"dir", "link"}, false},
      {{"dir", ".."}, false},
      {{"dir", "missing"}, false},
      {{"dir/deeper"}, false},
  };
  for (const auto& c : cases) {
    auto held = HeldPath::OpenBelow(root_, c.levels);
    EXPECT_EQ(held.has_value(), c.held) << testing::PrintToString(c.levels);
  }
}

TEST_F(HeldPathTest, KeepsNamingWhatWasOpenedWhenALinkIsSwappedIn) {
  auto held = HeldPath::OpenBelow(root_, {"dir"});
  ASSERT_TRUE(held);
  EXPECT_TRUE(held->IsDirectory());
  EXPECT_TRUE(held->IsLink("link"));
  EXPECT_FALSE(held->IsLink("file.txt"));
  fs::rename(root_ + "/dir", root_ + "/moved");
  fs::create_directory_symlink(scratch_ + "/outside", root_ + "/dir");
  EXPECT_EQ(Files().ReadFile(held->Path() + "/file.txt"), "inside");
  EXPECT_EQ(RealPath(held->Path()), root_ + "/moved");
  EXPECT_FALSE(HeldPath::OpenBelow(root_, {"dir", "file.txt"}));
}

TEST_F(HeldPathTest, AFileIsHeldAndReadThroughItsPath) {
  auto held = HeldPath::OpenBelow(root_, {"dir", "file.txt"});
  ASSERT_TRUE(held);
  EXPECT_FALSE(held->IsDirectory());
  fs::remove(root_ + "/dir/file.txt");
  fs::create_symlink(scratch_ + "/outside/file.txt", root_ + "/dir/file.txt");
  EXPECT_EQ(Files().ReadFile(held->Path()), "inside");
}

}  // namespace
}  // namespace corvane::platform

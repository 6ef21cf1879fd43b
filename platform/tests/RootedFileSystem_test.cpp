// SPDX-License-Identifier: Apache-2.0
#include "platform/RootedFileSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Failure.h"
#include "platform/tests/FailAllocation.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

std::string Content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(ThreadFileSystemTest,
     AThreadsFileSystemIsItsOwnAndComesBeforeTheProcesss) {
  FileSystem& posix = Files();
  ForwardingFileSystem process(posix);
  ForwardingFileSystem mine(posix);
  ForwardingFileSystem nested(posix);
  ScopedFileSystem fault(process);
  EXPECT_EQ(&Files(), &process);
  {
    ScopedThreadFileSystem scope(mine);
    EXPECT_EQ(&Files(), &mine);
    FileSystem* other = nullptr;
    std::thread([&] { other = &Files(); }).join();
    EXPECT_EQ(other, &process);
    {
      ScopedThreadFileSystem inner(nested);
      EXPECT_EQ(&Files(), &nested);
    }
    EXPECT_EQ(&Files(), &mine);
  }
  EXPECT_EQ(&Files(), &process);
}

// Each case runs through openat2 and through the fall-back walk.
class RootedFileSystemTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) walk_.emplace();
    char pattern[] = "/tmp/corvane-rooted-XXXXXX";
    scratch_ = mkdtemp(pattern);
    root_ = scratch_ + "/root";
    fs::create_directories(root_ + "/dir");
    fs::create_directories(scratch_ + "/outside");
    std::ofstream(root_ + "/dir/file.txt") << "inside";
    std::ofstream(scratch_ + "/outside/file.txt") << "outside";
    fs::create_symlink(scratch_ + "/outside", root_ + "/out");
    handle_.emplace(root_);
    files_.emplace(*handle_);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  // The failure's text, which must name `path` and nothing of the system's.
  std::string TextOf(const std::function<void()>& call,
                     const std::string& path) const {
    try {
      call();
    } catch (const Failure& failure) {
      EXPECT_NE(failure.description.find(path), std::string::npos)
          << failure.description;
      EXPECT_EQ(failure.description.find("/proc/self/fd"), std::string::npos)
          << failure.description;
      EXPECT_EQ(failure.description.find(root_), std::string::npos)
          << failure.description;
      return failure.description;
    }
    ADD_FAILURE() << "no failure for " << path;
    return {};
  }

  std::optional<ScopedFallbackWalk> walk_;
  std::string scratch_;
  std::string root_;
  std::optional<RootHandle> handle_;
  std::optional<RootedFileSystem> files_;
};

TEST_P(RootedFileSystemTest, FailuresNameThePathAsGiven) {
  EXPECT_EQ(TextOf([&] { files_->ReadFile("/dir/missing"); }, "/dir/missing"),
            "File not found: /dir/missing");
  EXPECT_EQ(TextOf([&] { files_->Remove("/nodir/x"); }, "/nodir/x"),
            "File not found: /nodir/x");
  TextOf([&] { files_->CreateDirectory("/dir"); }, "/dir");
  std::string out =
      TextOf([&] { files_->ReadFile("/out/file.txt"); }, "/out/file.txt");
  EXPECT_NE(out.find("leads out"), std::string::npos) << out;
  TextOf([&] { files_->OpenWriter("/out/new", WriteMode::kCreate); },
         "/out/new");
  TextOf([&] { files_->Rename("/dir/file.txt", "/../file.txt"); },
         "/../file.txt");
  EXPECT_FALSE(fs::exists(scratch_ + "/outside/new"));
  EXPECT_FALSE(fs::exists(scratch_ + "/file.txt"));
}

TEST_P(RootedFileSystemTest, WritesInEveryModeAndListsTheRootAsItsOwnParent) {
  auto write = [&](WriteMode mode, const char* text) {
    auto writer = files_->OpenWriter("dir/w.txt", mode);
    writer->Write(text);
    writer->Close();
  };
  write(WriteMode::kCreateNew, "one");
  write(WriteMode::kAppend, "+two");
  EXPECT_EQ(Content(root_ + "/dir/w.txt"), "one+two");
  write(WriteMode::kCreate, "three");
  EXPECT_EQ(Content(root_ + "/dir/w.txt"), "three");
  EXPECT_THROW(write(WriteMode::kCreateNew, "x"), Failure);
  // An unnamed file appears only when it is linked in.
  auto unnamed = files_->OpenWriter("/dir/u.txt", WriteMode::kUnnamed);
  unnamed->Write("unnamed");
  unnamed->Close();
  EXPECT_FALSE(fs::exists(root_ + "/dir/u.txt"));
  unnamed->LinkAs("/dir/u.txt");
  EXPECT_EQ(Content(root_ + "/dir/u.txt"), "unnamed");
  std::string temporary = files_->TemporaryName("/dir", ".t.");
  EXPECT_TRUE(temporary.starts_with("/dir/.t.")) << temporary;
  // ".." of the root is the root itself: nothing above it is looked at.
  auto dots = files_->Find("/*");
  ASSERT_GE(dots.size(), 2u);
  EXPECT_EQ(dots[1].name, "..");
  EXPECT_EQ(dots[1].last_write_time, files_->Stat("/")->last_write_time);
  EXPECT_EQ(TextOf([&] { files_->Stat("/.."); }, "/.."),
            "Path/File access error: /.. leads out of the directory it is "
            "kept in");
}

TEST_P(RootedFileSystemTest, AListingThatFailsPartWayClosesItsDirectory) {
  // Names too long to be kept inside a string: each takes an allocation.
  for (int n = 0; n < 20; ++n) {
    std::ofstream(root_ + "/dir/an-entry-with-a-long-name-" +
                  std::to_string(n));
  }
  fs::create_symlink("file.txt", root_ + "/dir/link");
  auto found = testing::SweepAllocations([&] { files_->Find("/dir/*"); });
  EXPECT_EQ(found.leaked_at, -1);
  EXPECT_GT(found.runs, 20);
  auto directory = files_->OpenDirectory("/dir");
  auto listed = testing::SweepAllocations([&] { directory->Entries(); });
  EXPECT_EQ(listed.leaked_at, -1);
  EXPECT_GT(listed.runs, 20);
}

TEST_P(RootedFileSystemTest, WhetherAnEntryExistsIsAskedOfTheFileSystemInUse) {
  fs::create_symlink("nowhere", root_ + "/dir/dangling");
  ScopedThreadFileSystem rooted(*files_);
  // Paths below the root, whatever the same text names outside it.
  EXPECT_TRUE(PathEntryExists("/dir/file.txt"));
  EXPECT_TRUE(PathEntryExists("dir/dangling"));
  EXPECT_TRUE(PathEntryExists("/out"));
  EXPECT_FALSE(PathEntryExists("/dir/missing"));
  EXPECT_FALSE(PathEntryExists(scratch_ + "/outside/file.txt"));
  // A path the root refuses or the system cannot take names nothing.
  EXPECT_FALSE(PathEntryExists("/out/file.txt"));
  EXPECT_FALSE(PathEntryExists("/../outside"));
  EXPECT_FALSE(PathEntryExists(std::string("/dir/file.txt\0x", 15)));
}

INSTANTIATE_TEST_SUITE_P(BothWays, RootedFileSystemTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Walk" : "Openat2";
                         });

}  // namespace
}  // namespace corvane::platform

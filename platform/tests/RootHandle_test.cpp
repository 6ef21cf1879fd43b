// SPDX-License-Identifier: Apache-2.0
#include "platform/RootHandle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

// Every test runs twice: through openat2, and through the fall-back walk.
class RootHandleTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) walk_.emplace();
    char pattern[] = "/tmp/corvane-root-XXXXXX";
    scratch_ = mkdtemp(pattern);
    root_ = scratch_ + "/root";
    fs::create_directories(root_ + "/dir/deeper");
    fs::create_directories(scratch_ + "/outside");
    std::ofstream(root_ + "/dir/file.txt") << "inside";
    std::ofstream(scratch_ + "/outside/file.txt") << "outside";
    fs::create_directory_symlink(scratch_ + "/outside", root_ + "/out");
    fs::create_symlink(scratch_ + "/outside/file.txt", root_ + "/dir/link");
    fs::create_symlink("../../outside", root_ + "/dir/climb");
    fs::create_symlink(root_ + "/dir", root_ + "/alias");
    fs::create_symlink("../dir/deeper", root_ + "/dir/down");
    fs::create_symlink("gone", root_ + "/dir/dangling");
    fs::create_symlink(scratch_ + "/nowhere", root_ + "/dangling-out");
    fs::create_symlink("loop", root_ + "/loop");
    fs::create_symlink("/proc/self/root", root_ + "/proc-root");
    fs::create_symlink("/proc/self/cwd", root_ + "/proc-cwd");
  }
  void TearDown() override { fs::remove_all(scratch_); }

  // The failure's number; its text names the caller's path, never a
  // descriptor's or the root's.
  int32_t NumberOf(const std::function<void()>& call) const {
    try {
      call();
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.description.find("/proc/self/fd/"), std::string::npos)
          << failure.description;
      EXPECT_EQ(failure.description.find(root_), std::string::npos)
          << failure.description;
      return failure.number;
    }
    return 0;
  }

  std::optional<ScopedFallbackWalk> walk_;
  std::string scratch_;
  std::string root_;
};

TEST_P(RootHandleTest, LinksAreFollowedOnlyWhileTheyStayInside) {
  RootHandle root(root_);
  EXPECT_EQ(root.Path(), fs::canonical(root_).string());
  struct Case {
    std::string path;
    Reach reach;
  };
  const Case cases[] = {
      {"", Reach::kInside},
      {"dir/file.txt", Reach::kInside},
      {"alias/file.txt", Reach::kInside},  // an absolute link inside
      {"dir/down/../file.txt", Reach::kInside},
      {root_ + "/dir", Reach::kInside},
      {"..", Reach::kOutside},
      {"dir/../..", Reach::kOutside},
      {"dir/climb", Reach::kOutside},
      {"out", Reach::kOutside},
      {"out/file.txt", Reach::kOutside},
      {"dir/link", Reach::kOutside},
      {"dangling-out", Reach::kOutside},
      {scratch_ + "/outside", Reach::kOutside},
      {"proc-root", Reach::kOutside},
      {"proc-cwd/x", Reach::kOutside},
      {"missing", Reach::kNothing},
      {"dir/file.txt/x", Reach::kNothing},
      {"dir/dangling", Reach::kNothing},
      {"loop", Reach::kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(root.Where(c.path), c.reach);
    // Open gives the same answer: held, refused (75) or failed.
    int32_t number = NumberOf([&] { root.Open(c.path); });
    int32_t expected = c.reach == Reach::kInside ? 0 : kPathFileAccessError;
    if (c.reach == Reach::kNothing) {
      EXPECT_NE(number, 0);
      EXPECT_NE(number, kPathFileAccessError);
    } else {
      EXPECT_EQ(number, expected);
    }
  }
  EXPECT_EQ(Files().ReadFile(root.Open("alias/file.txt").Path()), "inside");
  EXPECT_TRUE(root.Open("dir/down").IsDirectory());
}

TEST_P(RootHandleTest, ALevelSwappedForALinkBetweenCalls) {
  RootHandle root(root_);
  HeldPath dir = root.Open("dir");
  HeldPath file = root.Open("dir/file.txt");
  EXPECT_TRUE(dir.IsLink("link"));
  EXPECT_FALSE(dir.IsLink("file.txt"));
  fs::rename(root_ + "/dir", root_ + "/moved");
  fs::create_directory_symlink(scratch_ + "/outside", root_ + "/dir");
  // What is held stays what it was; the path now leads out and is refused.
  EXPECT_EQ(Files().ReadFile(dir.Path() + "/file.txt"), "inside");
  EXPECT_EQ(Files().ReadFile(file.Path()), "inside");
  EXPECT_EQ(root.Locate(dir), "moved");
  EXPECT_EQ(root.Where("dir/file.txt"), Reach::kOutside);
  EXPECT_EQ(NumberOf([&] { root.Open("dir/file.txt"); }), kPathFileAccessError);
  EXPECT_EQ(NumberOf([&] { root.CreateDirectory("dir/made"); }),
            kPathFileAccessError);
  EXPECT_EQ(NumberOf([&] { root.OpenForWriting("dir/new.txt", false); }),
            kPathFileAccessError);
  EXPECT_EQ(NumberOf([&] { root.OpenForWriting("dir/file.txt", false); }),
            kPathFileAccessError);
  EXPECT_EQ(Files().ReadFile(scratch_ + "/outside/file.txt"), "outside");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_ + "/outside"),
                          fs::directory_iterator()),
            1);
  // Swapped for a link that stays inside, it is followed.
  fs::remove(root_ + "/dir");
  fs::create_directory_symlink("moved", root_ + "/dir");
  EXPECT_EQ(Files().ReadFile(root.Open("dir/file.txt").Path()), "inside");
  // Moved out of the root, what is held is no longer located below it.
  fs::rename(root_ + "/moved", scratch_ + "/moved");
  EXPECT_EQ(root.Locate(dir), std::nullopt);
  EXPECT_EQ(root.Locate(root.Open("")), "");
}

TEST_P(RootHandleTest, ProcLinksAreRefusedBelowARootThatHoldsThem) {
  RootHandle whole("/");
  EXPECT_EQ(whole.Where("proc"), Reach::kInside);
  EXPECT_EQ(whole.Where(root_ + "/dir"), Reach::kInside);
  for (const char* magic :
       {"proc/self/root", "proc/self/cwd", "/proc/self/root", "proc/self/fd/0",
        "proc/thread-self/cwd/x"}) {
    SCOPED_TRACE(magic);
    EXPECT_EQ(whole.Where(magic), Reach::kOutside);
    EXPECT_EQ(NumberOf([&] { whole.Open(magic); }), kPathFileAccessError);
  }
  RootHandle process("/proc/self");
  EXPECT_EQ(process.Where("cwd"), Reach::kOutside);
  EXPECT_EQ(process.Where("root/etc"), Reach::kOutside);
}

TEST_P(RootHandleTest, CreatesBelowTheRootOnly) {
  RootHandle root(root_);
  root.CreateDirectory("dir/new");
  root.CreateDirectory("alias/new/../via-alias");
  EXPECT_TRUE(fs::is_directory(root_ + "/dir/new"));
  EXPECT_TRUE(fs::is_directory(root_ + "/dir/via-alias"));
  EXPECT_EQ(NumberOf([&] { root.CreateDirectory("dir/new"); }),
            kFileAlreadyExists);
  EXPECT_EQ(NumberOf([&] { root.CreateDirectory("missing/new"); }),
            kFileNotFound);
  for (const char* out : {"out/new", "../new", "dir/climb/new"}) {
    EXPECT_EQ(NumberOf([&] { root.CreateDirectory(out); }),
              kPathFileAccessError)
        << out;
  }
  HeldPath written = root.OpenForWriting("dir/w.txt", true);
  EXPECT_FALSE(written.IsDirectory());
  EXPECT_TRUE(fs::is_regular_file(root_ + "/dir/w.txt"));
  EXPECT_EQ(NumberOf([&] { root.OpenForWriting("dir/w.txt", true); }),
            kFileAlreadyExists);
  // A dangling link is created through while it stays inside.
  root.OpenForWriting("dir/dangling", false);
  EXPECT_TRUE(fs::is_regular_file(root_ + "/dir/gone"));
  EXPECT_EQ(NumberOf([&] { root.OpenForWriting("dangling-out", false); }),
            kPathFileAccessError);
  EXPECT_FALSE(fs::exists(scratch_ + "/nowhere"));
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_ + "/outside"),
                          fs::directory_iterator()),
            1);
}

TEST_P(RootHandleTest, ARootMustBeAnExistingDirectory) {
  for (const auto& [path, number] :
       {std::pair{scratch_ + "/missing", kFileNotFound},
        std::pair{root_ + "/dir/file.txt", kPathNotFound}}) {
    try {
      RootHandle refused(path);
      ADD_FAILURE() << path;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, number);
      EXPECT_NE(failure.description.find(path), std::string::npos);
    }
  }
  RootHandle through_link(root_ + "/alias");
  EXPECT_EQ(through_link.Path(), fs::canonical(root_ + "/dir").string());
  EXPECT_EQ(through_link.Where(root_ + "/alias/file.txt"), Reach::kInside);
}

INSTANTIATE_TEST_SUITE_P(BothWays, RootHandleTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Walk" : "Openat2";
                         });

}  // namespace
}  // namespace corvane::platform

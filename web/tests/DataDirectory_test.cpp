// SPDX-License-Identifier: Apache-2.0
#include "web/DataDirectory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace corvane::web {
namespace {

namespace fs = std::filesystem;

// Each case runs through openat2 and through the fall-back walk.
class DataDirectoryTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) walk_.emplace();
    char pattern[] = "/tmp/corvane-data-XXXXXX";
    scratch_ = mkdtemp(pattern);
    data_ = scratch_ + "/data";
    fs::create_directories(data_ + "/docs/sub");
    fs::create_directories(scratch_ + "/outside");
    std::ofstream(data_ + "/docs/a.txt") << "alpha";
    fs::create_symlink(scratch_ + "/outside", data_ + "/docs/escape");
    fs::create_symlink("sub", data_ + "/docs/inside");
    fs::create_symlink("gone", data_ + "/docs/dangling");
    mkfifo((data_ + "/docs/pipe").c_str(), 0600);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  static int StatusOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const PathRefused& refused) {
      return refused.status;
    }
    return 200;
  }

  std::optional<platform::ScopedFallbackWalk> walk_;
  std::string scratch_;
  std::string data_;
};

TEST_P(DataDirectoryTest, EachRefusalHasItsStatus) {
  DataDirectory data(data_);
  const std::pair<const char*, int> cases[] = {
      {"docs/a.txt", 200},    {"docs/inside", 200}, {"docs/missing", 404},
      {"docs/dangling", 404}, {"docs/escape", 403}, {"docs/escape/x", 403},
      {"docs/../..", 403},    {"/etc", 403},        {"docs/pipe", 409},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StatusOf([&] { data.Hold(c.first); }), c.second) << c.first;
  }
  EXPECT_EQ(StatusOf([&] { data.HoldEntry("docs/escape"); }), 403);
  EXPECT_EQ(StatusOf([&] { data.HoldEntry("docs/inside"); }), 200);
  EXPECT_EQ(StatusOf([&] { DataDirectory(scratch_ + "/missing"); }), 500);
}

TEST_P(DataDirectoryTest, LinksLeadOutWhereverTheHeldFolderNowIs) {
  DataDirectory data(data_);
  platform::HeldPath docs = data.HoldDirectory("docs");
  EXPECT_TRUE(data.LeadsOut(docs, "escape"));
  EXPECT_TRUE(data.LeadsOut(docs, "dangling"));
  EXPECT_FALSE(data.LeadsOut(docs, "inside"));
  fs::create_symlink("../../outside", data_ + "/docs/up");
  EXPECT_TRUE(data.LeadsOut(docs, "up"));
  // Moved deeper, the held folder's link is resolved from where it is now.
  fs::create_directories(data_ + "/deeper");
  fs::create_directories(data_ + "/outside");
  fs::rename(data_ + "/docs", data_ + "/deeper/docs");
  EXPECT_FALSE(data.LeadsOut(docs, "inside"));
  EXPECT_FALSE(data.LeadsOut(docs, "up"));
  // Moved out of the data directory, everything in it leads out.
  fs::rename(data_ + "/deeper/docs", scratch_ + "/docs");
  EXPECT_TRUE(data.LeadsOut(docs, "inside"));
}

INSTANTIATE_TEST_SUITE_P(BothWays, DataDirectoryTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Walk" : "Openat2";
                         });

}  // namespace
}  // namespace corvane::web

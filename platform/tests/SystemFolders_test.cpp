// SPDX-License-Identifier: Apache-2.0
#include "platform/SystemFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Library.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;

TEST(SystemFoldersTest, ABuildTreeKeepsEverythingInItsBinFolder) {
  // The tests run from the build's bin/, below the build's CMakeCache.txt.
  std::string runtime =
      DirectoryOf(ModulePath(reinterpret_cast<const void*>(&SystemFolderPath)));
  ASSERT_TRUE(fs::exists(runtime + "../CMakeCache.txt")) << runtime;
  EXPECT_TRUE(RunsFromBuildTree());
  for (auto folder : {SystemFolder::kConfiguration, SystemFolder::kLog,
                      SystemFolder::kState, SystemFolder::kCache}) {
    EXPECT_EQ(SystemFolderPath(folder), runtime);
  }
}

TEST(SystemFoldersTest, AProgramIsInstalledInABinBesideShareCorvane) {
  char pattern[] = "/tmp/corvane-prefix-XXXXXX";
  std::string prefix = mkdtemp(pattern);
  fs::create_directories(prefix + "/bin");
  fs::create_directories(prefix + "/cgi-bin");
  EXPECT_FALSE(IsInstalledProgram(prefix + "/bin/"));
  fs::create_directories(prefix + "/share/corvane");
  EXPECT_TRUE(IsInstalledProgram(prefix + "/bin/"));
  // A copy in a CGI folder reads its settings beside itself.
  EXPECT_FALSE(IsInstalledProgram(prefix + "/cgi-bin/"));
  EXPECT_FALSE(IsInstalledProgram(""));
  fs::remove_all(prefix);
}

}  // namespace
}  // namespace corvane::platform

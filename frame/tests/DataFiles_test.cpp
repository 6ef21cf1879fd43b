// SPDX-License-Identifier: Apache-2.0
#include "frame/DataFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/Library.h"

namespace corvane {
namespace {

TEST(DataFiles, TheEnvironmentNamesTheFolder) {
  ::setenv("CORVANE_DATA", "/srv/tables", 1);
  EXPECT_EQ(DataFilePath("dns.json"), "/srv/tables/dns.json");
  ::unsetenv("CORVANE_DATA");
}

TEST(DataFiles, AFileBesideTheRuntimeIsFoundThere) {
  // The registry sits beside the runtime in the build's bin/.
  std::string bin = platform::DirectoryOf(platform::ProgramPath());
  EXPECT_EQ(DataFilePath("corvane.registry"), bin + "corvane.registry");
  // Else the data folder of an installation, from the runtime's folder.
  EXPECT_EQ(DataFilePath("absent.json"),
            bin + CORVANE_DATA_FROM_RUNTIME "absent.json");
}

}  // namespace
}  // namespace corvane

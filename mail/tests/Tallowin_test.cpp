// SPDX-License-Identifier: Apache-2.0
#include "mail/Tallowin.h"

#include <gtest/gtest.h>

#include "mail/modGlobal.h"
#include "platform/tests/Caught.h"

namespace corvane::penrill {
namespace {

TEST(TallowinBinding, LoadsTheLibraryBesideTheMailCode) {
  std::string out = "head:";
  AppendBase64("foobar", out);
  EXPECT_EQ(out, "head:Zm9vYmFy");
  std::string lines;
  AppendBase64(std::string(55, '\0'), lines);
  EXPECT_EQ(lines.size(), 78u);
  EXPECT_EQ(lines.substr(72, 2), "\r\n");
}

TEST(TallowinBinding, AMissingLibraryIsFileNotFound) {
  tallowin::Binding binding("/nonexistent/", "libtallowin-missing.so",
                            kPenrillSource);
  auto failure = CaughtFailure([&] { binding.Base64Encode(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, 53);
  EXPECT_EQ(failure->source, "Penrill");
  EXPECT_EQ(failure->description, "File not found: libtallowin-missing.so");
}

TEST(TallowinBinding, ALibraryWithoutTheExportIs453) {
  // The C library loads everywhere and has no such export.
  tallowin::Binding binding("", "libc.so.6", kPenrillSource);
  auto failure = CaughtFailure([&] { binding.Base64Encode(); });
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->number, 453);
  EXPECT_EQ(failure->description, "Specified DLL function not found");
}

}  // namespace
}  // namespace corvane::penrill

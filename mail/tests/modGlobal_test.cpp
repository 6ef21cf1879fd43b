// SPDX-License-Identifier: Apache-2.0
#include "mail/modGlobal.h"

#include <gtest/gtest.h>

namespace corvane::penrill {
namespace {

TEST(GetFileName, CutsAtTheLastSlashOnly) {
  EXPECT_EQ(GetFileName("/srv/files/Report.pdf"), "Report.pdf");
  EXPECT_EQ(GetFileName("Report.pdf"), "Report.pdf");
  EXPECT_EQ(GetFileName("/srv/files/"), "");
  EXPECT_EQ(GetFileName(""), "");
  // A backslash is an ordinary character of a file name here.
  EXPECT_EQ(GetFileName("/srv/C:\\dir\\a.txt"), "C:\\dir\\a.txt");
}

TEST(GetPathExtension, TakesTheTextAfterTheLastDot) {
  EXPECT_EQ(GetPathExtension("/srv/photo.JPG"), "JPG");
  EXPECT_EQ(GetPathExtension("/srv/archive.tar.gz"), "gz");
  EXPECT_EQ(GetPathExtension("/srv/readme"), "/srv/readme");
  EXPECT_EQ(GetPathExtension("/srv/my.dir/notes"), "dir/notes");
  EXPECT_EQ(GetPathExtension("/srv/trailing."), "");
}

TEST(GetEncodedLength, MatchesTheLineBrokenLayout) {
  const std::pair<int64_t, int64_t> cases[] = {
      {0, 0},     {1, 4},     {2, 4},     {3, 4},   {4, 8},
      {54, 72},   {55, 78},   {56, 78},   {57, 78}, {58, 82},
      {108, 146}, {109, 152}, {162, 220}, {-1, 0},  {-54, 0}};
  for (auto [count, length] : cases) {
    EXPECT_EQ(GetEncodedLength(count), length) << count;
  }
  // No overflow for the largest count Base64Encode accepts.
  EXPECT_EQ(GetEncodedLength(2147483647), 2863311532LL + 2 * 39768215);
}

}  // namespace
}  // namespace corvane::penrill

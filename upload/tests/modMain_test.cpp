// SPDX-License-Identifier: Apache-2.0
#include "upload/modMain.h"

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "upload/tests/FileFaults.h"
#include "upload/tests/TestDirectory.h"

namespace corvane::cargane {
namespace {

using testing::HugeFileSystem;
using testing::TestDirectory;

TEST(AddBackslash, AppendsOnlyWhenMissingAndWritesBack) {
  std::string path = "/srv/up";
  EXPECT_EQ(AddBackslash(path), "/srv/up/");
  EXPECT_EQ(path, "/srv/up/");
  EXPECT_EQ(AddBackslash(path), "/srv/up/");
  std::string empty;
  EXPECT_EQ(AddBackslash(empty), "/");
}

TEST(CreateFullPath, ExistingDirectoryIsReturnedWithSeparator) {
  TestDirectory dir;
  std::string path = dir.Path() + "sub";
  dir.Put("sub/keep", "x");
  EXPECT_EQ(CreateFullPath(path), dir.Path() + "sub/");
  EXPECT_EQ(path, dir.Path() + "sub/");
  EXPECT_EQ(dir.Read("sub/keep"), "x");
}

TEST(CreateFullPath, CreatesEveryMissingLevel) {
  TestDirectory dir;
  std::string path = dir.Path() + "web/up/files";
  EXPECT_EQ(CreateFullPath(path), dir.Path() + "web/up/files/");
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "web/up/files"));
}

TEST(CreateFullPath, EmptyPathIsTheRoot) {
  std::string path;
  EXPECT_EQ(CreateFullPath(path), "/");
}

TEST(CreateFullPath, FailureGivesEmptyButWalksOn) {
  TestDirectory dir;
  dir.Put("plain", "a file in the way");
  std::string blocked = dir.Path() + "plain/below";
  EXPECT_EQ(CreateFullPath(blocked), "");
  EXPECT_EQ(blocked, dir.Path() + "plain/below/");
  std::string unreachable = "/proc/no-such-level/up";
  EXPECT_EQ(CreateFullPath(unreachable), "");
}

TEST(GetDirectorySize, CountsFilesDirectlyInsideHiddenIncluded) {
  TestDirectory dir;
  EXPECT_EQ(GetDirectorySize(dir.Path() + "missing"), -1);
  EXPECT_EQ(GetDirectorySize(dir.Path()), 0);
  dir.Put("a.txt", std::string(100, 'a'));
  dir.Put(".hidden", std::string(20, 'h'));
  dir.Put("sub/deep.txt", std::string(1000, 'd'));
  std::string without_separator = dir.Path();
  without_separator.pop_back();
  EXPECT_EQ(GetDirectorySize(without_separator), 120);
  EXPECT_EQ(DirectoryBytes(without_separator), 120);
  EXPECT_EQ(DirectoryBytes(dir.Path() + "missing"), std::nullopt);
}

TEST(GetDirectorySize, BeyondThirtyTwoBitsIsMinusOneButCountsIn64Bits) {
  TestDirectory dir;
  dir.Put("big.bin", "x");
  dir.Put("small.bin", "12345");
  HugeFileSystem huge(platform::Files());
  platform::ScopedFileSystem scope(huge);
  EXPECT_EQ(GetDirectorySize(dir.Path()), -1);
  EXPECT_EQ(DirectoryBytes(dir.Path()), 3'000'000'005LL);
}

TEST(GetFileExtension, TextAfterTheLastDot) {
  EXPECT_EQ(GetFileExtension("photo.JPG"), "JPG");
  EXPECT_EQ(GetFileExtension("archive.tar.gz"), "gz");
  EXPECT_EQ(GetFileExtension("README"), "");
  EXPECT_EQ(GetFileExtension("name."), "");
  EXPECT_EQ(GetFileExtension("dir.d/file"), "d/file");
  EXPECT_EQ(GetFileExtension(std::string(32763, 'a') + ".txt"), "txt");
  EXPECT_EQ(GetFileExtension(std::string(32764, 'a') + ".txt"), "");
}

TEST(GetFieldValue, FindsDecodesAndMatchesInsideLongerNames) {
  EXPECT_EQ(GetFieldValue("a", "a=1&b=2"), "1");
  EXPECT_EQ(GetFieldValue("a", "b=2&A=x+y%21"), "x y!");
  EXPECT_EQ(GetFieldValue("a", "a=&b=2"), "");
  EXPECT_EQ(GetFieldValue("a", "b=2"), "");
  EXPECT_EQ(GetFieldValue("a", "xa=5"), "5");
  EXPECT_EQ(GetFieldValue("ServerName1", "XServerName1=r.txt"), "r.txt");
  EXPECT_EQ(GetFieldValue("Name1", "ServerName1=r.txt"), "r.txt");
  EXPECT_EQ(GetFieldValue("a", "a=1%2B1"), "1+1");
  EXPECT_EQ(GetFieldValue("a", "a=50%"), "");
  EXPECT_EQ(GetFieldValue("a", "a=%00x"), std::string("\0x", 2));
}

TEST(ReplaceText, ReplacesLeftToRightAndDecodesHex) {
  EXPECT_EQ(ReplaceText("a%41%2541", "%", "HEX"), "aA%41");
  EXPECT_EQ(ReplaceText("a%41", "%", "hex"), "aA");
  EXPECT_EQ(ReplaceText("50%", "%", "HEX"), "");
  EXPECT_EQ(ReplaceText("%4", "%", "HEX"), "");
  EXPECT_EQ(ReplaceText("a+b+c", "+", " "), "a b c");
  EXPECT_EQ(ReplaceText("%4G|%G4", "%", "HEX"), std::string("\x04|\0", 3));
  EXPECT_EQ(ReplaceText("aa", "a", "aa"), "aaaa");
  EXPECT_EQ(ReplaceText("none", "%", "HEX"), "none");
  EXPECT_EQ(ReplaceText("text", "", "x"), "");
}

}  // namespace
}  // namespace corvane::cargane

// SPDX-License-Identifier: Apache-2.0
#include "upload/FileNameRules.h"

#include <gtest/gtest.h>

namespace corvane::cargane {
namespace {

std::string Checked(std::string name, std::string* left = nullptr) {
  std::string result = CheckFileName(name);
  if (left) *left = name;
  return result;
}

TEST(CheckFileName, StripsOnePairOfEachQuoteAndWritesBack) {
  std::string left;
  EXPECT_EQ(Checked("\"report.txt\"", &left), "report.txt");
  EXPECT_EQ(left, "report.txt");
  EXPECT_EQ(Checked("'report.txt'", &left), "report.txt");
  EXPECT_EQ(left, "report.txt");
  EXPECT_EQ(Checked("\"'a.txt'\"", &left), "a.txt");
  EXPECT_EQ(Checked("'\"a.txt\"'", &left), "");
  EXPECT_EQ(left, "\"a.txt\"");
  EXPECT_EQ(Checked("''a''", &left), "'a'");
}

TEST(CheckFileName, RefusesTheEightCharacters) {
  for (const char* name :
       {"a:b", "a\\b", "a/b", "a*b", "a<b", "a>b", "a|b", "a\"b", "\""}) {
    EXPECT_EQ(Checked(name), "") << name;
  }
  EXPECT_EQ(Checked("what?.txt"), "what?.txt");
  EXPECT_EQ(Checked("it's a.b.txt"), "it's a.b.txt");
  EXPECT_EQ(Checked("'"), "'");
}

TEST(ExtractFileName, CutsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(ExtractFileName("C:\\My Documents\\a.b.txt"), "a.b.txt");
  EXPECT_EQ(ExtractFileName("a.txt"), "a.txt");
  EXPECT_EQ(ExtractFileName("C:\\tmp\\"), "");
  EXPECT_EQ(ExtractFileName("dir/a.txt"), "a.txt");
  EXPECT_EQ(ExtractFileName("../../etc/passwd"), "passwd");
  EXPECT_EQ(ExtractFileName("a\\b/c"), "c");
  EXPECT_EQ(ExtractFileName(std::string(32767, 'a')), std::string(32767, 'a'));
  EXPECT_EQ(ExtractFileName(std::string(32768, 'a')), "");
}

TEST(ExtensionAllowed, ListEntriesMatchTheLowerCasedExtension) {
  std::vector<std::string> gif_jpg{"gif", "jpg"};
  EXPECT_TRUE(ExtensionAllowed("Photo.GIF", gif_jpg, true));
  EXPECT_FALSE(ExtensionAllowed("x.png", gif_jpg, true));
  EXPECT_FALSE(ExtensionAllowed("Photo.gif", {"GIF"}, true));
  EXPECT_FALSE(ExtensionAllowed("Photo.gif", {".gif"}, true));
  EXPECT_TRUE(ExtensionAllowed("x.anything", {"*"}, true));
  EXPECT_FALSE(ExtensionAllowed("x.gif", {}, true));
}

TEST(ExtensionAllowed, EmptyExtensionDependsOnlyOnTheRejectFlag) {
  for (const char* name : {"README", "name."}) {
    EXPECT_FALSE(ExtensionAllowed(name, {"*"}, true)) << name;
    EXPECT_TRUE(ExtensionAllowed(name, {}, false)) << name;
  }
}

TEST(IsSafeStoredName, RefusesNamesThatLeaveTheDirectory) {
  for (std::string name :
       {std::string(), std::string("."), std::string(".."), std::string("a/b"),
        std::string("a\\b"), std::string("a\nb"), std::string("a\0b", 3),
        std::string("a\x7f")}) {
    EXPECT_FALSE(IsSafeStoredName(name)) << name;
  }
  for (const char* name : {"a.txt", "...", ".profile", "naïve.txt", "a b"}) {
    EXPECT_TRUE(IsSafeStoredName(name)) << name;
  }
}

}  // namespace
}  // namespace corvane::cargane

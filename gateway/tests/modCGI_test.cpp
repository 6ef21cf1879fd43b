// SPDX-License-Identifier: Apache-2.0
#include "gateway/modCGI.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/tests/Caught.h"
#include "upload/tests/TestDirectory.h"

namespace corvane::wharfpost {
namespace {

using cargane::testing::TestDirectory;

TEST(ParseFileTypes, SplitsTrimsLowersAndCutsAtTheLastDot) {
  using List = std::vector<std::string>;
  EXPECT_EQ(ParseFileTypes("*.*"), List{"*"});
  EXPECT_EQ(ParseFileTypes(""), List{"*"});
  EXPECT_EQ(ParseFileTypes("*.GIF, *.jpg,txt"), (List{"gif", "jpg", "txt"}));
  EXPECT_EQ(ParseFileTypes("gif,c"), (List{"gif", "c"}));
  EXPECT_EQ(ParseFileTypes("gif,,x.tar.gz"), (List{"gif", "", "gz"}));
}

TEST(GetCookieValue, FindsDecodesAndNeverFails) {
  struct Case {
    const char* cookies;
    const char* name;
    const char* value;
  };
  const Case cases[] = {
      {"a=1; WharfpostToWhere=c%3A%5Cdata%5Cup; b=2", "WharfpostToWhere",
       "c:\\data\\up"},
      {"xWharfpostToWhere=d:\\x", "WharfpostToWhere", "d:\\x"},
      {"wharfposttowhere=a+b", "WharfpostToWhere", "a b"},
      {"UserDiskQuota=; x=1", "UserDiskQuota", ""},
      {"a=50%", "a", ""},  // an escape cut short
      {"b=2", "a", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cookies);
    setenv("HTTP_COOKIE", c.cookies, 1);
    EXPECT_EQ(GetCookieValue(c.name), c.value);
  }
  setenv("HTTP_COOKIE", ("a=" + std::string(16384, 'x')).c_str(), 1);
  EXPECT_EQ(GetCookieValue("a"), "");
  unsetenv("HTTP_COOKIE");
  EXPECT_EQ(GetCookieValue("a"), "");
}

TEST(LeadingNumber, ReadsTheLeadingNumericPart) {
  const std::pair<const char*, double> cases[] = {
      {"1000", 1000}, {" 12abc", 12}, {"-5", -5}, {"2.5e3x", 2500},
      {"abc", 0},     {"", 0},        {"1e", 1},  {"+7", 7},
  };
  for (auto [text, value] : cases)
    EXPECT_EQ(LeadingNumber(text), value) << text;
}

TEST(ReadIniSettings, KeysDefaultsAndRefusals) {
  TestDirectory dir;
  std::string ini = dir / "wharfpost.ini";
  EXPECT_EQ(FailureNumber([&] { (void)ReadIniSettings(ini); }), kFileNotFound);

  dir.Put("wharfpost.ini",
          "[Other]\nUploadRoot=/elsewhere\n[wharfpost]\n"
          "cookiename=ticket\nCookieValue=ok\nCookieRequired= yes \n"
          "UploadRoot=/srv/up\nDiskQuota=5000\n");
  Settings settings = ReadIniSettings(ini);
  EXPECT_TRUE(settings.cookie_required);
  EXPECT_EQ(settings.cookie_name, "ticket");
  EXPECT_EQ(settings.allowed_extensions, std::vector<std::string>{"*"});
  EXPECT_EQ(settings.upload_root, "/srv/up");
  EXPECT_EQ(settings.disk_quota, 5000);

  dir.Put("wharfpost.ini", "[Wharfpost]\nCookieRequired=yes\nCookieName=t\n");
  EXPECT_EQ(FailureDescription([&] { (void)ReadIniSettings(ini); }),
            "CookieRequired is yes without a CookieName and a CookieValue");
  for (const char* quota : {"0", "-1", "12kb", ""}) {
    dir.Put("wharfpost.ini", std::string("[Wharfpost]\nDiskQuota=") + quota);
    EXPECT_EQ(FailureDescription([&] { (void)ReadIniSettings(ini); }),
              "DiskQuota is not a positive number of bytes")
        << quota;
  }
  dir.Put("wharfpost.ini",
          "[Wharfpost]\nCookieRequired=yess\nFileTypesAllowed=\nCookieName=" +
              std::string(200, 'n') + "\n");
  settings = ReadIniSettings(ini);
  EXPECT_FALSE(settings.cookie_required);
  EXPECT_EQ(settings.allowed_extensions, std::vector<std::string>{"*"});
  EXPECT_EQ(settings.cookie_name.size(), 127u);
  EXPECT_EQ(settings.upload_root, "");
}

TEST(ReadIniSettings, ValueIsTheWholeRestOfTheLine) {
  // As a private-profile read: everything after "=", trimmed, without the
  // double quotes around it; leading blanks start no continuation.
  TestDirectory dir;
  std::string root = "/srv/" + std::string(300, 'r');
  dir.Put("wharfpost.ini",
          "[Wharfpost] ; gateway\r\nCookieName=\"Q\"\r\n"
          "CookieValue=Secret ;comment\r\n  CookieRequired = yes\t\r\n"
          "FileTypesAllowed=\"*.gif\" ,txt\r\nUploadRoot=" +
              root + "\r\n; UploadRoot=/elsewhere\r\n");
  Settings settings = ReadIniSettings(dir / "wharfpost.ini");
  EXPECT_EQ(settings.cookie_name, "Q");
  EXPECT_EQ(settings.cookie_value, "Secret ;comment");
  EXPECT_TRUE(settings.cookie_required);
  EXPECT_EQ(settings.allowed_extensions,
            (std::vector<std::string>{"gif\"", "txt"}));
  EXPECT_EQ(settings.upload_root, root);
}

}  // namespace
}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "gateway/Wharfpost.h"

#include <gtest/gtest.h>

#include "frame/Text.h"

namespace corvane::wharfpost {
namespace {

TEST(ResultPage, BesideTheReferrerUnlessItCouldAddHeaderLines) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://h/forms/page.htm", "http://h/forms/Wharfposted.asp"},
      {"http://h/", "http://h/Wharfposted.asp"},
      {"", "/Wharfposted.asp"},
      {"page.htm", "/Wharfposted.asp"},
      {"http://h/a\r\nSet-Cookie: x=1/p", "/Wharfposted.asp"},
      {"http://h/a\x7f/p", "/Wharfposted.asp"},
      // An address without a path keeps its host.
      {"http://host", "http://host/Wharfposted.asp"},
      {"https://host:8443?x", "https://host:8443/Wharfposted.asp"},
  };
  for (auto [referrer, page] : cases) EXPECT_EQ(ResultPage(referrer), page);
}

TEST(RedirectAddress, CodeCountQuotaFilesAndFieldsEncoded) {
  UploadState state;
  state.uploaded_files = {{"a b.txt", 5}, {"c", 3000000000}};
  state.form_items = {{"note", "x\r\ny"}, {"e", ""}};
  EXPECT_EQ(RedirectAddress("/r.asp", 1, state),
            "/r.asp?ErrorCode=1&filenum=2&fn1=a%20b%2Etxt&fl1=5&fn2=c"
            "&fl2=3000000000&note=x%0D%0Ay&e=");
  state.remaining_quota = -20;
  state.uploaded_files.clear();
  state.form_items.clear();
  EXPECT_EQ(RedirectAddress("/r.asp", -4, state),
            "/r.asp?ErrorCode=-4&filenum=0&Du=-20");
}

TEST(RedirectAddress, FieldsPastTheBoundAreLeftOutNeverTheFiles) {
  UploadState state;
  for (int i = 0; i < 40; ++i) {
    state.uploaded_files.push_back({std::string(100, 'f'), i});
  }
  state.form_items = {
      {"a", "1"}, {"big", std::string(kLongestAddress, 'x')}, {"b", "2"}};
  std::string address = RedirectAddress("/r.asp", 1, state);
  EXPECT_LE(address.size(), kLongestAddress);
  EXPECT_NE(address.find("&fn40="), std::string::npos);
  EXPECT_TRUE(address.ends_with("&fl40=39&a=1")) << address;

  // The files stay even when they alone pass the bound.
  state.uploaded_files.resize(100, {std::string(100, 'f'), 1});
  address = RedirectAddress("/r.asp", 1, state);
  EXPECT_NE(address.find("&fn100="), std::string::npos);
  EXPECT_EQ(address.find("&a=1"), std::string::npos);
}

TEST(UrlEncode, OnlyLettersAndDigitsStay) {
  EXPECT_EQ(UrlEncode("Az09 -._~%\xff"), "Az09%20%2D%2E%5F%7E%25%FF");
}

TEST(EscapeHtml, MarkupCharacters) {
  EXPECT_EQ(EscapeHtml("<a href=\"x\">&'"),
            "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

}  // namespace
}  // namespace corvane::wharfpost

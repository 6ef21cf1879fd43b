// SPDX-License-Identifier: Apache-2.0
#include "mail/Address.h"

#include <gtest/gtest.h>

namespace corvane::penrill {
namespace {

TEST(Address, MailboxSyntax) {
  for (const char* good :
       {"a@example.org", "first.last+tag@sub.example.org", "\"a b\"@x.org",
        "\"q\\\"uote\"@x.org", "user@[192.0.2.1]", "r\xC3\xA9my@b\xC3\xBC.de",
        "o'neil@x-y.example"}) {
    EXPECT_TRUE(IsMailboxAddress(good)) << good;
  }
  for (const char* bad :
       {"", "not an address", "a@", "@x.org", "a..b@x.org", ".a@x.org",
        "a.@x.org", "a b@x.org", "a@x..org", "a@-x.org", "a@x_y.org", "a@[]",
        "a@x.org>", "\"open@x.org", "a@x.org\r\nRCPT TO:<b@x.org>"}) {
    EXPECT_FALSE(IsMailboxAddress(bad)) << bad;
  }
}

TEST(Address, DomainsGoToAsciiLocalPartsCannot) {
  EXPECT_EQ(AsciiAddress("plain@example.org"), "plain@example.org");
  EXPECT_EQ(AsciiAddress("info@m\xC3\xBCnchen.de"), "info@xn--mnchen-3ya.de");
  EXPECT_EQ(AsciiAddress("j\xC3\xB6rg@example.org"), std::nullopt);
}

TEST(Address, HeaderEntriesKeepTheirNamesAroundTheAsciiDomain) {
  EXPECT_EQ(AsciiHeaderAddress("Ren\xC3\xA9 < info@m\xC3\xBCnchen.de >"),
            "Ren\xC3\xA9 < info@xn--mnchen-3ya.de >");
  EXPECT_EQ(AsciiHeaderAddress(" info@m\xC3\xBCnchen.de"),
            " info@xn--mnchen-3ya.de");
  // A display name alone in UTF-8, and a local part that cannot change.
  EXPECT_EQ(AsciiHeaderAddress("Ren\xC3\xA9 <r@example.org>"),
            "Ren\xC3\xA9 <r@example.org>");
  EXPECT_EQ(AsciiHeaderAddress("j\xC3\xB6rg@m\xC3\xBCnchen.de"),
            "j\xC3\xB6rg@m\xC3\xBCnchen.de");
}

}  // namespace
}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
#include "whois/ServerTable.h"

#include <gtest/gtest.h>

namespace corvane::namewell {
namespace {

TEST(ServerTableTest, ServerByTopLevelDomain) {
  const std::string_view table =
      "# comment\n\ncom whois.verisign-grs.com\r\nuk\twhois.nic.uk\n"
      "bad-line\n";
  struct {
    const char* name;
    const char* server;
  } rows[] = {
      {"example.com", "whois.verisign-grs.com"},
      {"EXAMPLE.COM.", "whois.verisign-grs.com"},
      {"a.b.co.uk", "whois.nic.uk"},
      {"com", "whois.verisign-grs.com"},
      {"example.zz", ""},
      {"example.", ""},
      {"", ""},
      {"bad-line", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FindServer(table, row.name), row.server) << row.name;
  }
}

TEST(ServerTableTest, CompiledTableKnowsTheCommonDomains) {
  EXPECT_EQ(ServerForName("example.com"), "whois.verisign-grs.com");
  EXPECT_EQ(ServerForName("example.de"), "whois.denic.de");
  EXPECT_EQ(ServerForName("example.jp"), "whois.jprs.jp");
  EXPECT_EQ(ServerForName("widget.zz"), "");
}

}  // namespace
}  // namespace corvane::namewell

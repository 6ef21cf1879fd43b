// SPDX-License-Identifier: Apache-2.0
#include "whois/BootstrapCache.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/tests/Caught.h"
#include "whois/NetworkQuery.h"
#include "whois/RdapReply.h"
#include "whois/WhoisQuery.h"

namespace corvane::namewell {
namespace {

// 2026-12-09T08:00:00Z, and the same instant as an HTTP date.
constexpr int64_t kNow = 1796803200;
constexpr char kNowDate[] = "Wed, 09 Dec 2026 08:00:00 GMT";

TEST(BootstrapCacheTest, FreshnessFollowsTheCachingHeaders) {
  struct {
    CachingHeaders headers;
    int64_t fresh_for;
  } rows[] = {
      {{.cache_control = "public, max-age=86400"}, 86400},
      {{.cache_control = "max-age=\"600\"", .age = "100"}, 500},
      {{.cache_control = "max-age=60", .age = "120"}, 0},
      {{.cache_control = "max-age=600, no-cache"}, 0},
      {{.cache_control = "no-store",
        .expires = "Thu, 10 Dec 2026 08:00:00 GMT"},
       0},
      {{.cache_control = "max-age=junk"}, 0},
      // Max-age wins over Expires.
      {{.cache_control = "max-age=10",
        .expires = "Thu, 10 Dec 2026 08:00:00 GMT"},
       10},
      // Expires is counted from the server's Date, not this clock.
      {{.expires = "Wed, 09 Dec 2026 09:00:00 GMT",
        .date = "Wed, 09 Dec 2026 08:30:00 GMT"},
       1800},
      {{.expires = "Wed, 09 Dec 2026 09:00:00 GMT"}, 3600},
      {{.expires = "0"}, 0},
      // Without either: a tenth of the age, at most a day.
      {{.date = kNowDate, .last_modified = "Sun, 29 Nov 2026 08:00:00 GMT"},
       86400},
      {{.date = kNowDate, .last_modified = "Wed, 09 Dec 2026 07:00:00 GMT"},
       360},
      {{}, kDefaultFreshSeconds},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(FreshUntil(row.headers, kNow) - kNow, row.fresh_for)
        << row.headers.cache_control << " | " << row.headers.expires;
  }
}

TEST(BootstrapCacheTest, FetchOnlyWhenStaleAndNotWaiting) {
  const std::string url = "https://data.example/rdap/dns.json";
  CacheState fresh{.url = url, .expires = kNow + 1};
  CacheState stale{.url = url, .expires = kNow};
  CacheState waiting{.url = url, .expires = 0, .next_attempt = kNow + 1};
  EXPECT_FALSE(NeedsFetch(fresh, true, url, kNow));
  EXPECT_TRUE(NeedsFetch(stale, true, url, kNow));
  EXPECT_TRUE(NeedsFetch(fresh, false, url, kNow));
  EXPECT_TRUE(NeedsFetch(fresh, true, "http://127.0.0.1/dns.json", kNow));
  EXPECT_FALSE(NeedsFetch(waiting, false, url, kNow));
  EXPECT_TRUE(NeedsFetch(waiting, false, url, kNow + 1));
}

TEST(BootstrapCacheTest, AddressesAndAsNumbersFindTheirServers) {
  const RdapBootstrap table = ReadBootstrap(R"({
    "version": "1.0", "publication": "x", "services": [
      [["192.0.0.0/8", "2001:db8::/32"], ["https://wide.example/"]],
      [["192.0.2.0/24", "2001:DB8:1::/48"], ["https://narrow.example/"]],
      [["64496-64511", "65000"], ["https://as.example/"]],
      [["64500-64501"], ["https://as-narrow.example/"]]]})");
  EXPECT_EQ(RdapBaseForAddress(table, "192.0.2.7"), "https://narrow.example/");
  EXPECT_EQ(RdapBaseForAddress(table, "192.0.2.0/24"),
            "https://narrow.example/");
  EXPECT_EQ(RdapBaseForAddress(table, "192.0.0.0/16"), "https://wide.example/");
  EXPECT_EQ(RdapBaseForAddress(table, "192.0.3.1"), "https://wide.example/");
  EXPECT_EQ(RdapBaseForAddress(table, "193.0.0.1"), "");
  EXPECT_EQ(RdapBaseForAddress(table, "2001:db8:1::5"),
            "https://narrow.example/");
  EXPECT_EQ(RdapBaseForAddress(table, "2001:db8:2::5"),
            "https://wide.example/");
  // An IPv4 address never matches an IPv6 prefix that covers its mapped
  // form, nor the other way round.
  EXPECT_EQ(RdapBaseForAddress(table, "::ffff:192.0.2.7"), "");
  EXPECT_EQ(RdapBaseForAsn(table, 64500), "https://as-narrow.example/");
  EXPECT_EQ(RdapBaseForAsn(table, 64511), "https://as.example/");
  EXPECT_EQ(RdapBaseForAsn(table, 65000), "https://as.example/");
  EXPECT_EQ(RdapBaseForAsn(table, 65001), "");
}

// The cache, configuration and data folders of a lookup, each in a new
// temporary folder.
class RegistryTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("rdap-tables-" + std::to_string(std::random_device{}()));
    for (const char* name : {"cache/corvane", "config/corvane", "data"}) {
      std::filesystem::create_directories(root_ / name);
    }
    ::setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    ::setenv("CORVANE_DATA", (root_ / "data").c_str(), 1);
  }
  void TearDown() override {
    for (const char* name :
         {"XDG_CACHE_HOME", "XDG_CONFIG_HOME", "CORVANE_DATA"}) {
      ::unsetenv(name);
    }
    std::filesystem::remove_all(root_);
  }
  static void Write(const std::string& path, std::string_view entries) {
    std::ofstream(path) << R"({"version":"1.0","publication":"p","services":[)"
                        << entries << "]}";
  }
  std::filesystem::path root_;
};

TEST_F(RegistryTableTest, EachTableFallsBackToTheNextOrSaysWhy) {
  Write(OverridePath(), R"([["zz","192.0.2.0/24"],["https://own.example/"]])");
  Write(BootstrapPath(), R"([["zz","yy"],["https://shipped.example/"]])");
  std::ofstream(CachedBootstrapPath(Registry::kDns)) << "<html>";
  // A refused copy of the domain file: the shipped table serves, under the
  // override's entries.
  RdapBootstrap domains = LoadRegistry(Registry::kDns);
  EXPECT_EQ(RdapBaseFor(domains, "widget.zz"), "https://own.example/");
  EXPECT_EQ(RdapBaseFor(domains, "widget.yy"), "https://shipped.example/");
  std::filesystem::remove(BootstrapPath());
  std::string refused =
      FailureDescription([] { (void)LoadRegistry(Registry::kDns); });
  EXPECT_EQ(refused.rfind("The RDAP bootstrap file " + BootstrapPath(), 0), 0u)
      << refused;

  // The network registries have no shipped table: the override's entries
  // alone are what a lookup can use.
  refused = FailureDescription([] { (void)LoadRegistry(Registry::kIpv4); });
  EXPECT_EQ(refused.rfind(CachedBootstrapPath(Registry::kIpv4) + " cannot", 0),
            0u)
      << refused;
  EXPECT_EQ(RdapBaseForAddress(OverrideTable(), "192.0.2.7"),
            "https://own.example/");
  Write(CachedBootstrapPath(Registry::kIpv4),
        R"([["192.0.0.0/8"],["https://wide.example/"]])");
  EXPECT_EQ(RdapBaseForAddress(LoadRegistry(Registry::kIpv4), "192.0.3.1"),
            "https://wide.example/");
  // A refused override is left out.
  std::ofstream(OverridePath()) << "{}";
  EXPECT_TRUE(OverrideTable().servers.empty());
  EXPECT_EQ(RdapBaseForAddress(LoadRegistry(Registry::kIpv4), "192.0.2.7"),
            "https://wide.example/");
}

// A failed fetch throws its reason and holds off the next one.
TEST_F(RegistryTableTest, FailedFetchThrowsAndWaits) {
  const std::string closed = "http://127.0.0.1:1/rdap/";
  EXPECT_EQ(FailureNumber([&] {
              (void)RefreshBootstrap(Registry::kAsn, closed, true, 2000);
            }),
            kConnectFailed);
  EXPECT_FALSE(std::filesystem::exists(CachedBootstrapPath(Registry::kAsn)));
  EXPECT_EQ(RefreshBootstrap(Registry::kAsn, closed, false, 2000).outcome,
            RefreshResult::Outcome::kFresh);
}

TEST(NetworkQueryTest, QueriesAreToldApart) {
  struct {
    const char* query;
    QueryKind kind;
    const char* text;
  } rows[] = {
      {"192.0.2.7", QueryKind::kIpv4, "192.0.2.7"},
      {"192.0.2.0/24", QueryKind::kIpv4, "192.0.2.0/24"},
      {"2001:DB8::1", QueryKind::kIpv6, "2001:db8::1"},
      {"AS64496", QueryKind::kAsn, "64496"},
      {"as0064496", QueryKind::kAsn, "64496"},
      {"AS4294967296", QueryKind::kName, ""},
      {"192.0.2.7/x", QueryKind::kName, ""},
      {"192.0.2", QueryKind::kName, ""},
      {"asterisk.zz", QueryKind::kName, ""},
      {"widget.zz", QueryKind::kName, ""},
  };
  for (const auto& row : rows) {
    NetworkQuery query = ClassifyQuery(row.query);
    EXPECT_EQ(query.kind, row.kind) << row.query;
    EXPECT_EQ(query.text, row.text) << row.query;
  }
  EXPECT_EQ(WhoisLineFor("WHOIS.ARIN.NET", ClassifyQuery("192.0.2.7"), "x"),
            "n + 192.0.2.7");
  EXPECT_EQ(WhoisLineFor("whois.arin.net:43", ClassifyQuery("AS7"), "AS7"),
            "a + 7");
  EXPECT_EQ(WhoisLineFor("whois.ripe.net", ClassifyQuery("AS7"), "AS7"), "AS7");
  EXPECT_EQ(
      WhoisLineFor("whois.arin.net", ClassifyQuery("arin.net"), "arin.net"),
      "arin.net");
}

// ARIN lists the covering network before the most specific one; the
// organisation's country and abuse address follow.
TEST(NetworkQueryTest, RegistryRepliesGiveTheNetworkFields) {
  WhoisRecord arin;
  ReadNetworkFields(
      "NetRange:       192.0.0.0 - 192.255.255.255\r\n"
      "NetName:        WIDE-NET\r\n\r\n"
      "NetRange:       192.0.2.0 - 192.0.2.255\r\n"
      "NetName:        TEST-NET-1\r\n"
      "OrgName:        Widget Works\r\n"
      "Country:        ZZ\r\n"
      "OrgAbuseEmail:  abuse@widget.zz\r\n"
      "Country:        YY\r\n",
      arin);
  EXPECT_EQ(arin.network_range, "192.0.2.0 - 192.0.2.255");
  EXPECT_EQ(arin.network_name, "TEST-NET-1");
  EXPECT_EQ(arin.country, "ZZ");
  EXPECT_EQ(arin.abuse_email, "abuse@widget.zz");

  WhoisRecord ripe;
  ripe.country = "kept";
  ReadNetworkFields(
      "% Abuse contact for 'AS64496' is 'abuse@as.zz'\n\n"
      "aut-num:        AS64496\nas-name:        WIDGET-AS\n"
      "country:        ZZ\nabuse-mailbox:  other@as.zz\n",
      ripe);
  EXPECT_EQ(ripe.network_range, "AS64496");
  EXPECT_EQ(ripe.network_name, "WIDGET-AS");
  EXPECT_EQ(ripe.country, "kept");
  EXPECT_EQ(ripe.abuse_email, "abuse@as.zz");
}

TEST(NetworkQueryTest, RdapNetworkAnswers) {
  RdapReply network = ReadRdapReply(R"({"objectClassName": "ip network",
      "startAddress": "2001:db8::", "endAddress": "2001:db8:ffff:ffff::",
      "name": "DOC-NET", "country": "ZZ", "entities": [
        {"roles": ["abuse"], "vcardArray": ["vcard", [
          ["email", {}, "text", "abuse@doc.zz"]]]}]})");
  EXPECT_EQ(network.record.network_range, "2001:db8:: - 2001:db8:ffff:ffff::");
  EXPECT_EQ(network.record.network_name, "DOC-NET");
  EXPECT_EQ(network.record.country, "ZZ");
  EXPECT_EQ(network.record.abuse_email, "abuse@doc.zz");
  RdapReply autnum = ReadRdapReply(
      R"({"objectClassName": "autnum", "startAutnum": 64496,
          "endAutnum": 64496, "name": "ONE-AS"})");
  EXPECT_EQ(autnum.record.network_range, "64496");
  EXPECT_EQ(autnum.record.network_name, "ONE-AS");
}

}  // namespace
}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/WhoisQuery.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>

#include "frame/MemoryHost.h"
#include "net/WSKSOCK.h"
#include "net/tests/FakeSockets.h"

namespace corvane::namewell {
namespace {

using net::testing::FakeSockets;

const std::string kReply =
    "Registrant:\nWidget Works (WIDGET-DOM)\n\n"
    "   Domain Name: WIDGET.ZZ\n\n"
    "   Administrative Contact, Technical Contact, Zone Contact:\n"
    "      Doe, Jan  (JD1)  jan@widget.zz, jd@widget.zz\n"
    "   Billing Contact:\n"
    "      Roe, Kim  (KR2)  (kim@widget.zz)\n\n"
    "   Record last updated on 01-Oct-98.\n";

class WhoisQueryTest : public ::testing::Test {
 protected:
  void SetUp() override { query.WhoisServer("127.0.0.1"); }

  // Connects the object to a page and returns what the page received.
  std::shared_ptr<MemoryContext> Page() {
    auto page = MemoryContext::New();
    query.OnStartPage(Variant(page));
    return page;
  }

  void ExpectFailure(int32_t number, const std::string& description) {
    EXPECT_EQ(query.GetLastErrNum(), number);
    EXPECT_EQ(query.GetLastErrSource(), "Namewell");
    EXPECT_EQ(query.GetLastErrDescription(), description);
    EXPECT_FALSE(net::WinsockStarted());
  }

  FakeSockets peer;
  WhoisQuery query;
};

TEST_F(WhoisQueryTest, SendsTheTrimmedLineAndParsesTheReply) {
  peer.chunks = {kReply};
  EXPECT_TRUE(query.SendQuery("  widget.zz "));
  EXPECT_EQ(peer.Sent(), "widget.zz\r\n");
  EXPECT_EQ(peer.connected_port, 43);
  EXPECT_EQ(peer.closed, std::vector<int32_t>{peer.handle});
  EXPECT_FALSE(net::WinsockStarted());
  EXPECT_EQ(query.GetResponse(), kReply);
  EXPECT_TRUE(query.IsRecordFound());
  EXPECT_EQ(query.GetDomainName(), "WIDGET.ZZ");
  EXPECT_EQ(query.GetRecordLastUpdateTime(), "01-Oct-98");
  EXPECT_EQ(query.GetLastErrNum(), 0);
  // Only spaces are trimmed from the query.
  EXPECT_TRUE(query.SendQuery("\twidget.zz"));
  EXPECT_EQ(peer.sends.back(), "\twidget.zz\r\n");
  EXPECT_TRUE(query.SendQuery(""));
  EXPECT_EQ(peer.sends.back(), "\r\n");
  EXPECT_TRUE(query.IsRecordFound());
  EXPECT_EQ(query.GetResponse(), "");
}

TEST_F(WhoisQueryTest, EmailPropertiesGiveTheFirstAcceptableAddress) {
  peer.chunks = {kReply};
  ASSERT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetAdministrativeEmail(), "jan@widget.zz");
  EXPECT_EQ(query.GetTechnicalEmail(), "jan@widget.zz");
  EXPECT_EQ(query.GetZoneEmail(), "jan@widget.zz");
  EXPECT_EQ(query.GetbillingEmail(), "");
}

TEST_F(WhoisQueryTest, ServerTextMayNameThePort) {
  query.WhoisServer("127.0.0.1:4343");
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(peer.connected_port, 4343);
}

TEST_F(WhoisQueryTest, TimeoutBoundsConnectionAndReply) {
  EXPECT_EQ(query.Timeout(), 60);
  EXPECT_TRUE(query.SendQuery("a"));
  EXPECT_EQ(peer.connect_timeout, 30000);
  EXPECT_LE(peer.receive_timeouts.back(), 60000);
  EXPECT_GT(peer.receive_timeouts.back(), 50000);
  query.Timeout(5);
  EXPECT_EQ(query.Timeout(), 5);
  EXPECT_TRUE(query.SendQuery("a"));
  EXPECT_EQ(peer.connect_timeout, 5000);
  EXPECT_LE(peer.receive_timeouts.back(), 5000);
  EXPECT_GT(peer.receive_timeouts.back(), 0);
  // Very long limits stay positive; none means the defaults again.
  query.Timeout(INT32_MAX);
  EXPECT_TRUE(query.SendQuery("a"));
  EXPECT_GT(peer.connect_timeout, 0);
  query.Timeout(0);
  EXPECT_EQ(query.Timeout(), 60);
  EXPECT_TRUE(query.SendQuery("a"));
  EXPECT_EQ(peer.connect_timeout, 30000);
  query.Timeout(-1);
  EXPECT_TRUE(query.SendQuery("a"));
  EXPECT_GT(peer.receive_timeouts.back(), 50000);
}

TEST_F(WhoisQueryTest, RefusedConnectionTakesTheFailurePath) {
  auto page = Page();
  peer.chunks = {kReply};
  ASSERT_TRUE(query.SendQuery("widget.zz"));
  peer.refuse_connect = true;
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  const std::string description =
      "Unable to establish connection with Whois Server. Connection refused.";
  ExpectFailure(kConnectFailed, description);
  EXPECT_EQ(kConnectFailed, -2147221500);
  EXPECT_EQ(page->Output(), description + "<br>");
  EXPECT_EQ(peer.closed.back(), peer.handle);
  // The reply of the last successful query stays; the fields are emptied.
  EXPECT_EQ(query.GetResponse(), kReply);
  EXPECT_FALSE(query.IsRecordFound());
  EXPECT_EQ(query.GetDomainName(), "");
  EXPECT_EQ(query.GetAdministrativeContact(), "");
  EXPECT_EQ(query.GetRecordLastUpdateTime(), "");
  // A later success keeps the last failure.
  peer.refuse_connect = false;
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetLastErrNum(), kConnectFailed);
  EXPECT_EQ(query.GetLastErrDescription(), description);
}

TEST_F(WhoisQueryTest, UnknownHostIsAConnectionFailureWithoutAnAttempt) {
  query.WhoisServer("no..where.invalid");
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kConnectFailed,
                "Unable to establish connection with Whois Server. "
                "Host not found.");
  EXPECT_EQ(peer.connects, 0);
}

TEST_F(WhoisQueryTest, SocketAndWriteFailures) {
  peer.handle = -1;
  peer.SetLastError(10024);
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kSocketFailed,
                "Unable to create a Socket. Too many open files.");

  peer.handle = 9;
  peer.send_limit = 3;
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kWriteFailed, "Network Error: Unable to write.");
  EXPECT_EQ(peer.closed.back(), 9);
  EXPECT_EQ(kWriteFailed, -2147221498);
}

TEST_F(WhoisQueryTest, ErrorCodeOutsideTheTableLeavesTheTrailingSpace) {
  peer.handle = -1;
  peer.SetLastError(10080);
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kSocketFailed, "Unable to create a Socket. ");
}

TEST_F(WhoisQueryTest, ReplyArrivesInPiecesAndUpToTheClose) {
  for (char c : kReply) peer.chunks.emplace_back(1, c);
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetResponse(), kReply);
  EXPECT_EQ(query.GetBillingContact(), "Roe, Kim  (KR2)  (kim@widget.zz)");
}

TEST_F(WhoisQueryTest, ReceiveFailuresFailTheQuery) {
  auto page = Page();
  peer.chunks = {"Registrant:\n"};
  peer.final_error = platform::kSocketTimedOut;
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kReadFailed,
                "Network Error: Unable to read. Connection timed out.");
  EXPECT_EQ(page->Output(),
            "Network Error: Unable to read. Connection timed out.<br>");
  EXPECT_EQ(query.GetResponse(), "");
  EXPECT_FALSE(query.IsRecordFound());
  EXPECT_EQ(peer.closed.back(), peer.handle);

  peer.final_error = platform::kSocketConnectionReset;
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  ExpectFailure(kReadFailed,
                "Network Error: Unable to read. Connection reset by peer.");
}

TEST_F(WhoisQueryTest, ReplyBeyondTheBoundFailsTheQuery) {
  const std::string piece(1024, 'x');
  auto deliver_bound = [&] {
    for (size_t sent = 0; sent < kReplyLimit; sent += piece.size()) {
      peer.chunks.push_back(piece);
    }
  };
  deliver_bound();
  EXPECT_TRUE(query.SendQuery("exactly.zz"));
  EXPECT_EQ(query.GetResponse().size(), kReplyLimit);

  deliver_bound();
  peer.chunks.push_back("y");
  peer.chunks.push_back("never read");
  EXPECT_FALSE(query.SendQuery("endless.zz"));
  ExpectFailure(kReadFailed,
                "Network Error: Unable to read. The reply is longer than "
                "8388608 bytes.");
  EXPECT_EQ(query.GetResponse(), "");
  EXPECT_EQ(peer.chunks.size(), 1u);
}

// A peer that records the names it is asked to resolve and resolves those
// it is given.
struct NamingPeer : FakeSockets {
  uint32_t Lookup(std::string_view name) override {
    names.emplace_back(name);
    auto known = addresses.find(std::string(name));
    return known != addresses.end() ? known->second : FakeSockets::Lookup(name);
  }
  std::vector<std::string> names;
  std::map<std::string, uint32_t> addresses;
};

constexpr uint32_t kPublicAddress = 0x076433C6u;   // 198.51.100.7
constexpr uint32_t kPrivateAddress = 0x0500000Au;  // 10.0.0.5

// Without WhoisServer and without FollowReferral every query asks the
// default server, which is kept, in one exchange: a referral in its reply
// is not followed.
TEST(WhoisQueryDefaultTest, DefaultServerIsKeptAndAskedOnce) {
  NamingPeer peer;
  WhoisQuery query;
  EXPECT_FALSE(query.SendQuery("widget.zz"));  // the fake knows no names
  EXPECT_EQ(query.GetLastErrDescription(),
            "Unable to establish connection with Whois Server. "
            "Host not found.");
  EXPECT_FALSE(query.SendQuery("example.com"));
  EXPECT_FALSE(query.SendQuery("example.de"));
  EXPECT_EQ(peer.names,
            std::vector<std::string>(3, std::string(kDefaultWhoisServer)));
  EXPECT_EQ(query.GetReferralChain(), kDefaultWhoisServer);

  peer.addresses[kDefaultWhoisServer] = kPublicAddress;
  peer.chunks = {"refer: whois.nic.zz\n\ndomain: ZZ\n", "",
                 "Domain Name: WIDGET.ZZ\n"};
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(peer.connects, 1);
  EXPECT_EQ(peer.connected_address, kPublicAddress);
  EXPECT_EQ(query.GetReferralChain(), kDefaultWhoisServer);
  EXPECT_EQ(query.GetResponse(), "refer: whois.nic.zz\n\ndomain: ZZ\n");
}

// A lookup across servers (FollowReferral) without WhoisServer asks the
// table's server for the query's top-level domain, else the root's.
TEST(WhoisQueryDefaultTest, LookupAcrossServersFollowsTheTopLevelDomain) {
  NamingPeer peer;
  WhoisQuery query;
  query.FollowReferral(true);
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  EXPECT_FALSE(query.SendQuery("example.com"));
  EXPECT_FALSE(query.SendQuery("example.de"));
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  EXPECT_EQ(peer.names, (std::vector<std::string>{
                            kRootWhoisServer, "whois.verisign-grs.com",
                            "whois.denic.de", kRootWhoisServer}));
  EXPECT_EQ(query.GetReferralChain(), kRootWhoisServer);
}

// A referral that resolves to a loopback or private address is refused
// when the first server was public; it is followed when the first server
// was such an address itself.
TEST(WhoisQueryDefaultTest, ReferralsInsideAreFollowedOnlyFromInside) {
  NamingPeer peer;
  peer.addresses = {{"whois.registry.zz", kPublicAddress},
                    {"whois.inside.zz", kPrivateAddress},
                    {"whois.registrar.zz", kPublicAddress}};
  WhoisQuery query;
  query.FollowReferral(true);
  query.WhoisServer("whois.registry.zz");
  for (const char* inside :
       {"whois.inside.zz", "127.0.0.1:4343", "localhost", "169.254.169.254"}) {
    peer.connects = 0;
    peer.chunks = {"Domain Name: WIDGET.ZZ\nRegistrar WHOIS Server: " +
                       std::string(inside) + "\n",
                   "", "Registrar: Inside\n"};
    EXPECT_TRUE(query.SendQuery("widget.zz")) << inside;
    EXPECT_EQ(peer.connects, 1) << inside;
    EXPECT_EQ(query.GetLastErrNum(), kQueryRefused);
    EXPECT_EQ(query.GetLastErrDescription(),
              "The referral to " + std::string(inside) +
                  " was not followed: it resolves to a loopback or private "
                  "address.");
    EXPECT_EQ(query.GetDomainName(), "WIDGET.ZZ");
    EXPECT_EQ(query.GetRegistrar(), "");
  }
  // A public referral is followed.
  peer.connects = 0;
  peer.chunks = {"Registrar WHOIS Server: whois.registrar.zz\n", "",
                 "Registrar: Outside\n"};
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(peer.connects, 2);
  EXPECT_EQ(query.GetRegistrar(), "Outside");
  // From a private first server, a private referral is followed.
  query.WhoisServer("127.0.0.1");
  peer.connects = 0;
  peer.chunks = {"Registrar WHOIS Server: whois.inside.zz\n", "",
                 "Registrar: Inside\n"};
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(peer.connects, 2);
  EXPECT_EQ(peer.connected_address, kPrivateAddress);
  EXPECT_EQ(query.GetRegistrar(), "Inside");
}

// One page request must stay one query: a line break or NUL in the text
// fails the query before anything is sent.
TEST_F(WhoisQueryTest, QueryWithLineBreakOrNulSendsNothing) {
  auto page = Page();
  const std::string refused[] = {"widget.zz\r\nsecond.zz", "widget.zz\n",
                                 "a\rb", std::string("a\0b", 3)};
  for (const std::string& text : refused) {
    peer.chunks = {kReply};
    EXPECT_FALSE(query.SendQuery(text));
    ExpectFailure(kQueryRefused,
                  "The query holds a line break or a NUL character; nothing "
                  "was sent.");
    EXPECT_EQ(peer.connects, 0);
    EXPECT_TRUE(peer.sends.empty());
    EXPECT_FALSE(query.IsRecordFound());
  }
  EXPECT_EQ(kQueryRefused, -2147221503);
  EXPECT_NE(page->Output().find("nothing was sent.<br>"), std::string::npos);
}

TEST_F(WhoisQueryTest, InternationalNamesAreSentInAsciiForm) {
  EXPECT_TRUE(
      query.SendQuery(" b\xc3\xbc"
                      "cher.de"));
  EXPECT_EQ(peer.Sent(), "xn--bcher-kva.de\r\n");
  EXPECT_FALSE(
      query.SendQuery("b\xc3\xbc"
                      "cher\xff.de"));
  EXPECT_EQ(query.GetLastErrNum(), kQueryRefused);
  EXPECT_EQ(query.GetLastErrDescription().rfind(
                "The query is not a valid internationalised domain name: ", 0),
            0u);
  EXPECT_EQ(peer.connects, 1);
  // Text that is no domain name goes out as given.
  EXPECT_TRUE(query.SendQuery(" M\xc3\xbcller GmbH "));
  EXPECT_EQ(peer.sends.back(), "M\xc3\xbcller GmbH\r\n");
}

TEST_F(WhoisQueryTest, KeyValueReplyFillsTheNewProperties) {
  peer.chunks = {
      "Domain Name: WIDGET.ZZ\r\nRegistrar: Example Registrar\r\n"
      "Registry Expiry Date: 2030-01-01T00:00:00Z\r\n"
      "Domain Status: ok https://icann.org/epp#ok\r\n"
      "Domain Status: clientHold https://icann.org/epp#clientHold\r\n"
      "Admin Email: jan@widget.zz\r\nRegistrar WHOIS Server: whois.ex.zz\r\n"};
  ASSERT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetDomainName(), "WIDGET.ZZ");
  EXPECT_EQ(query.GetRegistrar(), "Example Registrar");
  EXPECT_EQ(query.GetExpiryTime(), "2030-01-01T00:00:00Z");
  EXPECT_EQ(query.GetDomainStatus(), "ok\nclientHold");
  EXPECT_EQ(query.GetAdministrativeEmail(), "jan@widget.zz");
  // Without FollowReferral only the server set is asked.
  EXPECT_FALSE(query.FollowReferral());
  EXPECT_EQ(query.GetReferralChain(), "127.0.0.1");
  EXPECT_EQ(peer.connects, 1);
}

// A rate-limit notice is a failure of its own with the wait it asks for,
// not a record found or missing; from a referral it is recorded and the
// registry's fields stay.
TEST_F(WhoisQueryTest, RateLimitNoticeIsItsOwnFailure) {
  auto page = Page();
  peer.chunks = {"% Query rate limit exceeded. Try again in 30 seconds.\r\n"};
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  const std::string description =
      "Rate limited by the whois server: Query rate limit exceeded. Try "
      "again in 30 seconds. Wait 30 seconds.";
  ExpectFailure(kThrottled, description);
  EXPECT_EQ(kThrottled, -2147221497);
  EXPECT_EQ(page->Output(), description + "<br>");
  EXPECT_EQ(query.GetRetryAfter(), 30);
  EXPECT_FALSE(query.IsRecordFound());
  EXPECT_EQ(query.GetResponse(),
            "% Query rate limit exceeded. Try again in 30 seconds.\r\n");

  query.FollowReferral(true);
  peer.chunks = {
      "Domain Name: WIDGET.ZZ\nRegistrar WHOIS Server: 127.0.0.1:4343\n", "",
      "WHOIS LIMIT EXCEEDED\n"};
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetLastErrNum(), kThrottled);
  EXPECT_EQ(query.GetLastErrDescription(),
            "Rate limited by the whois server: WHOIS LIMIT EXCEEDED.");
  EXPECT_EQ(query.GetRetryAfter(), 0);
  EXPECT_TRUE(query.IsRecordFound());
  EXPECT_EQ(query.GetDomainName(), "WIDGET.ZZ");

  // A later query that is not limited reads 0.
  peer.chunks = {
      "Domain Name: WIDGET.ZZ\nRegistrant Name: REDACTED FOR "
      "PRIVACY\n"};
  query.FollowReferral(false);
  EXPECT_TRUE(query.SendQuery("widget.zz"));
  EXPECT_EQ(query.GetRetryAfter(), 0);
  EXPECT_EQ(query.GetRedactedFields(), "Registrant Name");
  EXPECT_EQ(query.GetRegistrant(), "");
}

TEST_F(WhoisQueryTest, PageLifecycle) {
  auto page = Page();
  query.OnEndPage();
  EXPECT_TRUE(peer.closed.empty());
  peer.refuse_connect = true;
  EXPECT_FALSE(query.SendQuery("widget.zz"));
  EXPECT_EQ(page->Output(), "");  // no context is held any more
  EXPECT_FALSE(net::WinsockStarted());
}

TEST_F(WhoisQueryTest, ExtractEmailReturnsANewCollection) {
  auto found = query.ExtractEmail("a@b.zz, c@d.zz");
  ASSERT_EQ(found->Count(), 2);
  EXPECT_EQ(found->Item(Variant(int32_t{1})).ToText(), "a@b.zz");
  EXPECT_EQ(query.ExtractEmail("none")->Count(), 0);
  EXPECT_NE(query.ExtractEmail("none"), query.ExtractEmail("none"));
  EXPECT_TRUE(query.ValidateEmail("a@b.zz"));
  EXPECT_FALSE(query.ValidateEmail("a@b"));
}

TEST_F(WhoisQueryTest, AsksWhoisUntilToldOtherwise) {
  EXPECT_EQ(query.Protocol(), "whois");
  EXPECT_EQ(query.RdapServer(), "");
  query.Protocol("RDAP");
  EXPECT_EQ(query.Protocol(), "RDAP");
}

TEST_F(WhoisQueryTest, MembersStandInTheirOrder) {
  const auto& members = query.Class().members();
  std::vector<std::string> names;
  for (const auto& member : members) names.push_back(member.name);
  EXPECT_EQ(names, (std::vector<std::string>{"WhoisServer",
                                             "gethostname",
                                             "GetCoordinator",
                                             "GetRegistrant",
                                             "GetDomainName",
                                             "GetAdministrativeEmail",
                                             "GetTechnicalEmail",
                                             "GetZoneEmail",
                                             "GetbillingEmail",
                                             "GetRecordLastUpdateTime",
                                             "GetRecordCreateTime",
                                             "GetDatabaseLastUpdateTime",
                                             "GetDomainServers",
                                             "IsRecordFound",
                                             "GetAdministrativeContact",
                                             "GetTechnicalContact",
                                             "GetZoneContact",
                                             "GetBillingContact",
                                             "GetResponse",
                                             "GetLastErrNum",
                                             "GetLastErrSource",
                                             "GetLastErrDescription",
                                             "OnStartPage",
                                             "OnEndPage",
                                             "SendQuery",
                                             "ExtractEmail",
                                             "ValidateEmail",
                                             "Timeout",
                                             "GetRegistrar",
                                             "GetExpiryTime",
                                             "GetDomainStatus",
                                             "FollowReferral",
                                             "GetReferralChain",
                                             "Protocol",
                                             "RdapServer",
                                             "GetRetryAfter",
                                             "GetRedactedFields",
                                             "BootstrapUrl",
                                             "RefreshBootstrap",
                                             "UpdateBootstrap",
                                             "GetBootstrapStatus",
                                             "GetNetworkRange",
                                             "GetNetworkName",
                                             "GetCountry",
                                             "GetAbuseEmail"}));
  // By-reference arguments come back unchanged.
  Arguments args{Variant("  widget.zz ")};
  peer.refuse_connect = true;
  EXPECT_EQ(query.Call("SendQuery", args), Variant(false));
  EXPECT_EQ(args[0], Variant("  widget.zz "));
}

}  // namespace
}  // namespace corvane::namewell

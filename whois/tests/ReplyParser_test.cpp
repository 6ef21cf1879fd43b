// SPDX-License-Identifier: Apache-2.0
#include "whois/ReplyParser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace corvane::namewell {
namespace {

// The domain record with one shared heading for three contacts.
const std::string kDomainReply =
    "Registrant:\n"
    "Widget Works (WIDGET-DOM)\n"
    "   1 Main Street\n"
    "   Springfield, XX 00000\n"
    "\n"
    "   Domain Name: WIDGET.ZZ\n"
    "\n"
    "   Administrative Contact, Technical Contact, Zone Contact:\n"
    "      Doe, Jan  (JD1)\n"
    "      555 0100\n"
    "   Billing Contact:\n"
    "      Roe, Kim  (KR2)\n"
    "      555 0101\n"
    "\n"
    "   Record last updated on 01-Oct-98.\n"
    "   Record created on 15-Mar-95.\n"
    "   Database last updated on 5-Dec-98 15:40:41 EST.\n"
    "\n"
    "   Domain servers in listed order:\n"
    "\n"
    "   NS1.WIDGET.ZZ   10.0.0.1\n"
    "   NS2.WIDGET.ZZ   10.0.0.2\n"
    "\n";

const std::string kRegistrant =
    "Widget Works (WIDGET-DOM)\n   1 Main Street\n   Springfield, XX 00000";
const std::string kJan = "Doe, Jan  (JD1)\n      555 0100";
const std::string kKim = "Roe, Kim  (KR2)\n      555 0101";
const std::string kServers =
    "NS1.WIDGET.ZZ   10.0.0.1\n   NS2.WIDGET.ZZ   10.0.0.2";

std::string Replace(std::string text, const std::string& from,
                    const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

void ExpectNoDomainFields(const WhoisRecord& r) {
  EXPECT_EQ(r.registrant, "");
  EXPECT_EQ(r.domain_name, "");
  EXPECT_EQ(r.administrative_contact, "");
  EXPECT_EQ(r.technical_contact, "");
  EXPECT_EQ(r.zone_contact, "");
  EXPECT_EQ(r.billing_contact, "");
  EXPECT_EQ(r.record_created, "");
  EXPECT_EQ(r.domain_servers, "");
}

void ExpectNoFields(const WhoisRecord& r) {
  ExpectNoDomainFields(r);
  EXPECT_EQ(r.record_updated, "");
  EXPECT_EQ(r.database_updated, "");
  EXPECT_EQ(r.host_name, "");
  EXPECT_EQ(r.coordinator, "");
}

TEST(ReplyParserTest, DomainReplyFillsEveryFieldKeepingIndentation) {
  WhoisRecord r = ParseResponse(kDomainReply);
  EXPECT_TRUE(r.record_found);
  EXPECT_EQ(r.registrant, kRegistrant);
  EXPECT_EQ(r.domain_name, "WIDGET.ZZ");
  EXPECT_EQ(r.administrative_contact, kJan);
  EXPECT_EQ(r.technical_contact, kJan);
  EXPECT_EQ(r.zone_contact, kJan);
  EXPECT_EQ(r.billing_contact, kKim);
  EXPECT_EQ(r.record_updated, "01-Oct-98");
  EXPECT_EQ(r.record_created, "15-Mar-95");
  EXPECT_EQ(r.database_updated, "5-Dec-98 15:40:41 EST");
  EXPECT_EQ(r.domain_servers, kServers);
  EXPECT_EQ(r.host_name, "");
  EXPECT_EQ(r.coordinator, "");
}

TEST(ReplyParserTest, FourHeadingsFillEachContactFromItsOwnBlock) {
  std::string reply =
      Replace(kDomainReply,
              "   Administrative Contact, Technical Contact, Zone Contact:\n"
              "      Doe, Jan  (JD1)\n"
              "      555 0100\n",
              "   Administrative Contact:\n      Doe, Jan  (JD1)\n\n"
              "   Technical Contact:\n      Poe, Lee  (LP3)\n\n"
              "   Zone Contact:\n      Moe, Ann  (AM4)\n\n");
  WhoisRecord r = ParseResponse(reply);
  EXPECT_EQ(r.administrative_contact, "Doe, Jan  (JD1)");
  EXPECT_EQ(r.technical_contact, "Poe, Lee  (LP3)");
  EXPECT_EQ(r.zone_contact, "Moe, Ann  (AM4)");
  EXPECT_EQ(r.billing_contact, kKim);
  EXPECT_EQ(r.record_updated, "01-Oct-98");
  EXPECT_EQ(r.domain_servers, kServers);
}

const std::string kHostReply =
    "Host record of the widget registry\n"
    "\n"
    "   Hostname: NS1.WIDGET.ZZ\n"
    "   Address: 10.0.0.1\n"
    "\n"
    "   Coordinator:\n"
    "      Doe, Jan  (JD1)  jan@widget.zz\n"
    "      555 0100\n"
    "\n"
    "   Record last updated on 02-Oct-98.\n"
    "   Database last updated on 6-Dec-98 10:00:00 EST.\n";

TEST(ReplyParserTest, HostReplyFillsHostFieldsOnly) {
  WhoisRecord r = ParseResponse(kHostReply);
  EXPECT_TRUE(r.record_found);
  EXPECT_EQ(r.host_name, "NS1.WIDGET.ZZ");
  EXPECT_EQ(r.coordinator, "Doe, Jan  (JD1)  jan@widget.zz\n      555 0100");
  EXPECT_EQ(r.record_updated, "02-Oct-98");
  EXPECT_EQ(r.database_updated, "6-Dec-98 10:00:00 EST");
  ExpectNoDomainFields(r);
}

TEST(ReplyParserTest, MarkersCountOnlyInTheFirst256Characters) {
  std::string padding(256, 'x');
  WhoisRecord no_match = ParseResponse("No match for \"NOPE.ZZ\".\n");
  EXPECT_FALSE(no_match.record_found);
  ExpectNoFields(no_match);

  // "No match" ending exactly at character 256 counts; one further does not.
  EXPECT_FALSE(ParseResponse(std::string(248, 'x') + "No match").record_found);
  EXPECT_TRUE(ParseResponse(std::string(249, 'x') + "No match").record_found);

  WhoisRecord late_no_match =
      ParseResponse(kDomainReply + padding + "No match");
  EXPECT_TRUE(late_no_match.record_found);
  EXPECT_EQ(late_no_match.domain_name, "WIDGET.ZZ");

  // A late "Coordinator:" leaves the reply to the domain form.
  WhoisRecord late_coordinator =
      ParseResponse(kDomainReply + padding + "Coordinator:\n");
  EXPECT_EQ(late_coordinator.domain_name, "WIDGET.ZZ");
  EXPECT_EQ(late_coordinator.host_name, "");
}

TEST(ReplyParserTest, UnreadableRepliesKeepTheFoundFlagWithEmptyFields) {
  WhoisRecord empty = ParseResponse("");
  EXPECT_TRUE(empty.record_found);
  ExpectNoFields(empty);
}

std::string WithCrLf(const std::string& text) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

void ExpectSameFields(const WhoisRecord& a, const WhoisRecord& b) {
  EXPECT_EQ(a.record_found, b.record_found);
  EXPECT_EQ(a.registrant, b.registrant);
  EXPECT_EQ(a.domain_name, b.domain_name);
  EXPECT_EQ(a.administrative_contact, b.administrative_contact);
  EXPECT_EQ(a.technical_contact, b.technical_contact);
  EXPECT_EQ(a.zone_contact, b.zone_contact);
  EXPECT_EQ(a.billing_contact, b.billing_contact);
  EXPECT_EQ(a.record_updated, b.record_updated);
  EXPECT_EQ(a.record_created, b.record_created);
  EXPECT_EQ(a.database_updated, b.database_updated);
  EXPECT_EQ(a.domain_servers, b.domain_servers);
  EXPECT_EQ(a.host_name, b.host_name);
  EXPECT_EQ(a.coordinator, b.coordinator);
}

// Servers that end every line with CR LF: read as LF, no field holds a CR.
TEST(ReplyParserTest, CrLfLineEndsParseLikeLf) {
  ExpectSameFields(ParseResponse(WithCrLf(kDomainReply)),
                   ParseResponse(kDomainReply));
  ExpectSameFields(ParseResponse(WithCrLf(kHostReply)),
                   ParseResponse(kHostReply));
  EXPECT_EQ(ParseResponse(WithCrLf(kDomainReply)).domain_servers, kServers);
  // A lone CR is text, not a line end.
  EXPECT_EQ(WithLineFeedEnds("a\rb\r\r\nc\r"), "a\rb\nc\r");
  EXPECT_EQ(WithLineFeedEnds("\r\n\r"), "\n\r");
  EXPECT_EQ(WithLineFeedEnds("ab"), "ab");
}

// A contact block ends at the next contact heading its sharing list does
// not name, even when that is not the heading the sharing rules expect.
TEST(ReplyParserTest, ContactBlockEndsAtTheNextUnsharedHeading) {
  WhoisRecord zone_follows = ParseResponse(
      "Registrant:\nR\n\nDomain Name: D.ZZ\n\n"
      "Administrative Contact, Technical Contact:\n  ADMIN\n\n"
      "Zone Contact:\n  ZONE\n\n"
      "Record created on 15-Mar-95.\n\n"
      "Domain servers in listed order:\n\n  NS1.D.ZZ\n\n");
  EXPECT_EQ(zone_follows.administrative_contact, "ADMIN");
  EXPECT_EQ(zone_follows.technical_contact, "ADMIN");
  EXPECT_EQ(zone_follows.zone_contact, "ZONE");
  EXPECT_EQ(zone_follows.billing_contact, "");
  EXPECT_EQ(zone_follows.record_created, "15-Mar-95");
  EXPECT_EQ(zone_follows.domain_servers, "NS1.D.ZZ");

  WhoisRecord technical_follows = ParseResponse(
      "Registrant:\nR\n\nDomain Name: D.ZZ\n\n"
      "Administrative Contact, Zone Contact:\n  ADMIN\n\n"
      "Technical Contact:\n  TECH\n\n"
      "Billing Contact:\n  BILL\n\n"
      "Record created on 15-Mar-95.\n");
  EXPECT_EQ(technical_follows.administrative_contact, "ADMIN");
  EXPECT_EQ(technical_follows.zone_contact, "ADMIN");
  EXPECT_EQ(technical_follows.technical_contact, "TECH");
  EXPECT_EQ(technical_follows.billing_contact, "BILL");
  EXPECT_EQ(technical_follows.record_created, "15-Mar-95");

  // No later heading at all: the block ends at the empty line.
  WhoisRecord alone = ParseResponse(
      "Registrant:\nR\n\nDomain Name: D.ZZ\n\n"
      "Administrative Contact:\n  ADMIN\n\n"
      "Record created on 15-Mar-95.\n");
  EXPECT_EQ(alone.administrative_contact, "ADMIN");
  EXPECT_EQ(alone.record_created, "");  // the technical heading is missing
}

TEST(ReplyParserTest, DateWithoutPeriodRunsIntoTheNextLine) {
  WhoisRecord r =
      ParseResponse(Replace(kDomainReply, "01-Oct-98.\n", "01-Oct-98\n"));
  EXPECT_EQ(r.record_updated, "01-Oct-98\n   Record created on 15-Mar-95");
  EXPECT_EQ(r.record_created, "");
  EXPECT_EQ(r.database_updated, "5-Dec-98 15:40:41 EST");
  EXPECT_EQ(r.domain_servers, kServers);
}

TEST(ReplyParserTest, MissingDateHeadingSkipsOnlyThatField) {
  WhoisRecord r = ParseResponse(
      Replace(kDomainReply, "   Record created on 15-Mar-95.\n", ""));
  EXPECT_EQ(r.record_updated, "01-Oct-98");
  EXPECT_EQ(r.record_created, "");
  EXPECT_EQ(r.database_updated, "5-Dec-98 15:40:41 EST");
  EXPECT_EQ(r.domain_servers, kServers);

  WhoisRecord first_missing = ParseResponse(
      Replace(kDomainReply, "   Record last updated on 01-Oct-98.\n", ""));
  EXPECT_EQ(first_missing.record_updated, "");
  EXPECT_EQ(first_missing.record_created, "15-Mar-95");
}

TEST(ReplyParserTest, MissingMarkersStopTheParseKeepingEarlierFields) {
  WhoisRecord no_domain =
      ParseResponse(Replace(kDomainReply, "Domain Name:", "Domain:"));
  EXPECT_EQ(no_domain.registrant, kRegistrant);
  EXPECT_EQ(no_domain.domain_name, "");
  EXPECT_EQ(no_domain.administrative_contact, "");
  EXPECT_EQ(no_domain.record_updated, "");

  WhoisRecord no_contacts =
      ParseResponse(Replace(kDomainReply, "Administrative Contact,", "Admin,"));
  EXPECT_EQ(no_contacts.domain_name, "WIDGET.ZZ");
  EXPECT_EQ(no_contacts.administrative_contact, "");
  EXPECT_EQ(no_contacts.record_updated, "");

  // A host reply without a coordinator block keeps its host name only.
  WhoisRecord host = ParseResponse(
      Replace(kHostReply, "      555 0100\n\n", "      555 0100\n"));
  EXPECT_EQ(host.host_name, "NS1.WIDGET.ZZ");
  EXPECT_EQ(host.coordinator, "");
  EXPECT_EQ(host.record_updated, "");
}

// One row per sharing list of the administrative heading. The reply has a
// separate heading for every other contact, so each field shows which end
// marker closed the administrative block and where the parse went on.
struct SharingCase {
  const char* name;
  const char* sharers;
  const char* administrative;
  const char* technical;
  const char* zone;
  const char* billing;
  const char* updated;
};

void PrintTo(const SharingCase& c, std::ostream* out) { *out << c.name; }

class SharingListTest : public ::testing::TestWithParam<SharingCase> {};

std::string SharingReply(const std::string& sharers) {
  return "Registrant:\nR\n\nDomain Name: D.ZZ\n\nAdministrative Contact" +
         sharers +
         ":\n  ADMIN\n\n"
         "Technical Contact:\n  TECH\n\n"
         "Zone Contact:\n  ZONE\n\n"
         "Billing Contact:\n  BILL\n\n"
         "Record last updated on 01-Oct-98.\n";
}

TEST_P(SharingListTest, EndMarkerFollowsTheSharingList) {
  const SharingCase& c = GetParam();
  WhoisRecord r = ParseResponse(SharingReply(c.sharers));
  EXPECT_EQ(r.administrative_contact, c.administrative);
  EXPECT_EQ(r.technical_contact, c.technical);
  EXPECT_EQ(r.zone_contact, c.zone);
  EXPECT_EQ(r.billing_contact, c.billing);
  EXPECT_EQ(r.record_updated, c.updated);
}

// Up to the "Billing Contact" heading, past the technical and zone blocks.
constexpr const char* kUpToBilling =
    "ADMIN\n\nTechnical Contact:\n  TECH\n\nZone Contact:\n  ZONE";

INSTANTIATE_TEST_SUITE_P(
    Rows, SharingListTest,
    ::testing::Values(
        // None: the block ends at the technical heading.
        SharingCase{"None", "", "ADMIN", "TECH", "ZONE", "BILL", "01-Oct-98"},
        SharingCase{"Technical", ", Technical Contact", "ADMIN", "ADMIN",
                    "ZONE", "BILL", "01-Oct-98"},
        // Zone without technical: the block ends at the technical heading.
        SharingCase{"Zone", ", Zone Contact", "ADMIN", "TECH", "ADMIN", "BILL",
                    "01-Oct-98"},
        SharingCase{"TechnicalZone", ", Technical Contact, Zone Contact",
                    kUpToBilling, kUpToBilling, kUpToBilling, "BILL",
                    "01-Oct-98"},
        // Billing among the sharers: the block ends at the empty line.
        SharingCase{"Billing", ", Billing Contact", "ADMIN", "TECH", "ZONE",
                    "ADMIN", "01-Oct-98"},
        SharingCase{"ZoneBilling", ", Zone Contact, Billing Contact", "ADMIN",
                    "TECH", "ADMIN", "ADMIN", "01-Oct-98"},
        SharingCase{"All", ", Technical Contact, Zone Contact, Billing Contact",
                    "ADMIN", "ADMIN", "ADMIN", "ADMIN", "01-Oct-98"}),
    [](const ::testing::TestParamInfo<SharingCase>& info) {
      return std::string(info.param.name);
    });

TEST(ReplyParserTest, TechnicalAndZoneHeadingsShareLikewise) {
  WhoisRecord technical = ParseResponse(
      "Registrant:\nR\n\nDomain Name: D.ZZ\n\n"
      "Administrative Contact:\n  ADMIN\n\n"
      "Technical Contact, Zone Contact:\n  TECH\n\n"
      "Record created on 15-Mar-95.\n");
  EXPECT_EQ(technical.administrative_contact, "ADMIN");
  EXPECT_EQ(technical.technical_contact, "TECH");
  EXPECT_EQ(technical.zone_contact, "TECH");
  EXPECT_EQ(technical.billing_contact, "");
  EXPECT_EQ(technical.record_created, "15-Mar-95");

  WhoisRecord zone = ParseResponse(
      "Registrant:\nR\n\nDomain Name: D.ZZ\n\n"
      "Administrative Contact:\n  ADMIN\n\n"
      "Technical Contact:\n  TECH\n\n"
      "Zone Contact, Billing Contact:\n  ZONE\n\n"
      "Billing Contact:\n  LATER\n\n");
  EXPECT_EQ(zone.technical_contact, "TECH");
  EXPECT_EQ(zone.zone_contact, "ZONE");
  EXPECT_EQ(zone.billing_contact, "ZONE");
}

TEST(GetContentBetweenTagsTest, CutsAndMovesPastTheEndMarker) {
  std::string content = "old";
  size_t position = 0;
  EXPECT_TRUE(GetContentBetweenTags(content, "a[b]c[d]", position, "[", "]"));
  EXPECT_EQ(content, "b");
  EXPECT_EQ(position, 4u);
  EXPECT_TRUE(GetContentBetweenTags(content, "a[b]c[d]", position, "", "]"));
  EXPECT_EQ(content, "c[d");
  EXPECT_EQ(position, 8u);
  // Nothing is left to search beyond the end of the text.
  EXPECT_FALSE(GetContentBetweenTags(content, "a[b]c[d]", position, "", "]"));
  EXPECT_EQ(content, "");
}

TEST(GetContentBetweenTagsTest, MissingMarkerLeavesThePosition) {
  std::string content = "old";
  size_t position = 1;
  EXPECT_FALSE(GetContentBetweenTags(content, "a[b c", position, "[", "]"));
  EXPECT_EQ(content, "");
  EXPECT_EQ(position, 1u);
  // A start marker before the position is not found.
  position = 3;
  EXPECT_FALSE(GetContentBetweenTags(content, "a[b]c", position, "[", "]"));
  EXPECT_EQ(position, 3u);
  // The content may be empty.
  position = 0;
  EXPECT_TRUE(GetContentBetweenTags(content, "[]", position, "[", "]"));
  EXPECT_EQ(content, "");
  EXPECT_EQ(position, 2u);
}

TEST(MyTrimTest, StripsBlanksAtBothEndsOnly) {
  EXPECT_EQ(MyTrim("\n\t x\r\n"), "x");
  EXPECT_EQ(MyTrim("   "), "");
  EXPECT_EQ(MyTrim(""), "");
  EXPECT_EQ(MyTrim(" a \t\n b "), "a \t\n b");
}

}  // namespace
}  // namespace corvane::namewell

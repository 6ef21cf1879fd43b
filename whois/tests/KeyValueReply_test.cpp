// SPDX-License-Identifier: Apache-2.0
#include "whois/KeyValueReply.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "whois/EmailAddresses.h"

namespace corvane::namewell {
namespace {

std::string ReadReplyFile(const std::string& name) {
  std::ifstream file(std::string(CORVANE_WHOIS_REPLIES) + "/" + name,
                     std::ios::binary);
  EXPECT_TRUE(file) << name;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// What a person reading the reply expects; fields left out are empty.
struct FormatCase {
  const char* file;
  const char* domain_name;
  const char* registrar;
  const char* created;
  const char* updated;
  const char* expiry;
  const char* status;
  const char* servers;
  const char* registrant;
  const char* administrative;
  const char* technical;
  const char* referral = "";
};

void PrintTo(const FormatCase& c, std::ostream* out) { *out << c.file; }

class PublishedFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PublishedFormatTest, FieldsAsAReaderSeesThem) {
  const FormatCase& c = GetParam();
  std::string reply = ReadReplyFile(c.file);
  ParsedReply parsed = ReadReply(reply);
  const WhoisRecord& r = parsed.record;
  EXPECT_TRUE(r.record_found);
  EXPECT_EQ(r.domain_name, c.domain_name);
  EXPECT_EQ(r.registrar, c.registrar);
  EXPECT_EQ(r.record_created, c.created);
  EXPECT_EQ(r.record_updated, c.updated);
  EXPECT_EQ(r.expiry_time, c.expiry);
  EXPECT_EQ(r.domain_status, c.status);
  EXPECT_EQ(r.domain_servers, c.servers);
  EXPECT_EQ(r.registrant, c.registrant);
  EXPECT_EQ(r.administrative_contact, c.administrative);
  EXPECT_EQ(r.technical_contact, c.technical);
  EXPECT_EQ(r.zone_contact, "");
  EXPECT_EQ(parsed.referral.server, c.referral);
  for (const std::string* field :
       {&r.domain_name, &r.registrant, &r.administrative_contact,
        &r.technical_contact, &r.record_created, &r.domain_servers}) {
    EXPECT_EQ(field->find('\r'), std::string::npos) << *field;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PublishedFormatTest,
    ::testing::Values(
        FormatCase{"icann-registrar.txt", "EXAMPLE-WIDGETS.COM",
                   "Example Registrar, LLC", "1995-08-14T04:00:00Z",
                   "2024-08-14T07:01:34Z", "2025-08-13T04:00:00Z",
                   "clientDeleteProhibited\nclientTransferProhibited",
                   "NS1.EXAMPLE-HOSTING.NET\nNS2.EXAMPLE-HOSTING.NET",
                   "Jan Doe\nWidget Works Inc.\n1 Main Street\nSuite 100\n"
                   "Springfield\nXX\n00000\nUS",
                   "Kim Roe\nWidget Works Inc.\n1 Main Street\nSpringfield\n"
                   "XX\n00000\nUS\n+1.5555550101\nkim@example-widgets.com",
                   "Lee Poe\nExample Hosting\n9 Harbour Road\nShelbyville\n"
                   "XX\n00001\nUS\n+1.5555550102\n"
                   "hostmaster@example-hosting.net",
                   "whois.example-registrar.net"},
        FormatCase{"com-registry-thin.txt", "EXAMPLE-WIDGETS.COM",
                   "Example Registrar, LLC", "1995-08-14T04:00:00Z",
                   "2024-08-14T07:01:34Z", "2025-08-13T04:00:00Z",
                   "clientDeleteProhibited\nclientTransferProhibited",
                   "NS1.EXAMPLE-HOSTING.NET\nNS2.EXAMPLE-HOSTING.NET", "", "",
                   "", "whois.example-registrar.net"},
        FormatCase{"iana-referral.txt", "COM", "", "1985-01-01", "2023-12-07",
                   "", "ACTIVE", "A.GTLD-SERVERS.NET\nB.GTLD-SERVERS.NET", "",
                   "", "", "whois.verisign-grs.com"},
        FormatCase{
            "uk-nominet.txt", "example-widgets.co.uk",
            "Example Registrar Ltd [Tag = EXAMPLE]", "26-Aug-1996",
            "25-Jul-2024", "26-Aug-2026", "Registered until expiry date.",
            "ns1.example-hosting.net\nns2.example-hosting.net", "", "", ""},
        FormatCase{"de-denic.txt", "example-widgets.de", "", "",
                   "2024-03-12T11:04:12+01:00", "", "connect",
                   "ns1.example-hosting.net\nns2.example-hosting.net", "", "",
                   ""},
        FormatCase{"jp-jprs.txt", "EXAMPLE-WIDGETS.JP", "", "2001/05/22",
                   "2024/06/01 01:05:07 (JST)", "2025/05/31", "Active",
                   "ns1.example-hosting.jp\nns2.example-hosting.jp",
                   "Widget Works K.K.", "", ""},
        FormatCase{"fr-afnic.txt", "example-widgets.fr", "EXAMPLE REGISTRAR",
                   "2005-06-05T22:00:00Z", "2024-02-13T09:52:36Z",
                   "2025-03-12T14:33:39Z", "ACTIVE",
                   "ns1.example-hosting.fr\nns2.example-hosting.fr",
                   "Widget Works SA\n1 rue de la Paix\n75002 Paris\nFR\n"
                   "+33.100000000\ncontact@example-widgets.fr",
                   "Jeanne Dupont\n1 rue de la Paix\n75002 Paris\nFR\n"
                   "jeanne@example-widgets.fr",
                   "Example Hosting SARL\n5 quai Voltaire\n69002 Lyon\nFR\n"
                   "noc@example-hosting.fr"},
        FormatCase{"nl-sidn.txt", "example-widgets.nl",
                   "Example Registrar B.V.", "1999-03-12", "2024-02-01", "",
                   "active", "ns1.example-hosting.nl\nns2.example-hosting.nl",
                   "", "", ""},
        FormatCase{"br-registro.txt", "example-widgets.com.br", "",
                   "20010522 #564301", "20240315", "20250522", "published",
                   "ns1.example-hosting.com.br\nns2.example-hosting.com.br",
                   "Widget Works Ltda", "",
                   "Joao Silva\njoao@example-hosting.com.br\nBR"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) {
      std::string name;
      for (const char* c = info.param.file; *c != '.'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      }
      return name;
    });

TEST(KeyValueReplyTest, ContactEmailsComeFromTheBlocks) {
  WhoisRecord r = ReadReply(ReadReplyFile("icann-registrar.txt")).record;
  EXPECT_EQ(ExtractEmail(r.administrative_contact),
            std::vector<std::string>{"kim@example-widgets.com"});
  EXPECT_EQ(ExtractEmail(r.technical_contact),
            std::vector<std::string>{"hostmaster@example-hosting.net"});
  // The registrant block is its name and address.
  EXPECT_TRUE(ExtractEmail(r.registrant).empty());
  EXPECT_EQ(r.billing_contact, "");
  EXPECT_EQ(r.database_updated, "2024-09-01T10:00:00Z");
}

TEST(KeyValueReplyTest, RegistryPointerOnlyFromIanaReferral) {
  EXPECT_TRUE(
      ReadReply(ReadReplyFile("iana-referral.txt")).referral.pointer_only);
  EXPECT_FALSE(
      ReadReply(ReadReplyFile("com-registry-thin.txt")).referral.pointer_only);
}

TEST(KeyValueReplyTest, ReferralValuesNameServersOnly) {
  struct {
    const char* line;
    const char* server;
  } rows[] = {
      {"ReferralServer: whois://whois.example.net", "whois.example.net"},
      {"ReferralServer: whois://whois.example.net:4343/",
       "whois.example.net:4343"},
      {"ReferralServer: rwhois://rwhois.example.net:4321", ""},
      {"Registrar WHOIS Server: https://whois.example.net/", ""},
      {"whois: whois.example.net with text", ""},
      {"Registrar WHOIS Server: ", ""},
      {"refer: 127.0.0.1:4343", "127.0.0.1:4343"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ReadKeyValues(row.line).referral.server, row.server) << row.line;
  }
}

// "Not found" in each usual wording, behind banners, gives no record.
TEST(KeyValueReplyTest, NotFoundWordingsClearTheRecord) {
  const std::string banner =
      "% This is the whois server of a registry. Its data may only be used\n"
      "% for lawful purposes; see the terms of use at the registry's site,\n"
      "% which this banner reproduces at length so that the answer itself\n"
      "% stands well beyond the first lines of the reply.\n\n";
  const char* answers[] = {
      "No match for \"NOPE.COM\".\n>>> Last update of whois database: "
      "2024-09-01T10:02:11Z <<<\n",
      "NOT FOUND\n",
      "%% NOT FOUND\n",
      "No Data Found\n",
      "Domain: nope.de\nStatus: free\n",
      "%ERROR:101: no entries found\n%\n% No entries found in source RIPE.\n",
      "No match!!\n\nDon't add \"www.\" when querying.\n",
      "% No match for nope.com.br\n",
      "Domain not found.\n",
  };
  for (const char* answer : answers) {
    ParsedReply parsed = ReadReply(banner + answer);
    EXPECT_FALSE(parsed.record.record_found) << answer;
    EXPECT_EQ(parsed.record.domain_name, "") << answer;
    EXPECT_EQ(parsed.record.domain_status, "") << answer;
  }
  // Wordings inside a line or a found record's prose do not count.
  EXPECT_TRUE(ReadReply("Domain: ok.de\nStatus: connect\nRemarks: not found "
                        "in the archive\n")
                  .record.record_found);
}

TEST(KeyValueReplyTest, OldFormatFieldsStayAndOthersAreFilled) {
  // The line-oriented parse stops after the domain name; the key-value
  // lines fill what it left empty, never what it filled.
  ParsedReply parsed = ReadReply(
      "Registrant:\nWidget Works\n\nDomain Name: WIDGET.ZZ\n\n"
      "Registrar: Example Registrar\nName Server: NS1.WIDGET.ZZ\n"
      "Admin Email: jan@widget.zz\n");
  EXPECT_EQ(parsed.record.registrant, "Widget Works");
  EXPECT_EQ(parsed.record.domain_name, "WIDGET.ZZ");
  EXPECT_EQ(parsed.record.registrar, "Example Registrar");
  EXPECT_EQ(parsed.record.domain_servers, "NS1.WIDGET.ZZ");
  EXPECT_EQ(parsed.record.administrative_contact, "jan@widget.zz");
}

TEST(KeyValueReplyTest, KeysIgnoreCaseAndTakeTheFirstValue) {
  WhoisRecord r = ReadKeyValues(
                      "DOMAIN NAME: A.ZZ\ndomain name: B.ZZ\n"
                      "registered on: 2001-01-01\nCreated: 2002-02-02\n"
                      "NSERVER: ns1.a.zz\nname server: ns2.a.zz\n")
                      .fields;
  EXPECT_EQ(r.domain_name, "A.ZZ");
  EXPECT_EQ(r.record_created, "2001-01-01");
  EXPECT_EQ(r.domain_servers, "ns1.a.zz\nns2.a.zz");
  // Marker lines with nothing inside them are no keys.
  EXPECT_EQ(ReadKeyValues(">>>\n>>> <<<\n<<<\n[]\n:\n").fields.domain_name, "");
}

TEST(KeyValueReplyTest, StatusWithoutItsLinkAndTheBlanksBeforeIt) {
  EXPECT_EQ(ReadKeyValues("Domain Status: ok https://icann.org/epp#ok\n"
                          "Status: hold \t\r\r http://x\n")
                .fields.domain_status,
            "ok\nhold");
}

TEST(KeyValueReplyTest, UndescribedHandleStandsForItself) {
  WhoisRecord r = ReadKeyValues(
                      "domain: a.zz\nadmin-c: AB1-ZZ\ntech-c: CD2-ZZ\n\n"
                      "person: Ann Bee\nnic-hdl: CD2-ZZ\n")
                      .fields;
  EXPECT_EQ(r.administrative_contact, "AB1-ZZ");
  // A paragraph may name its handle after its other lines.
  EXPECT_EQ(r.technical_contact, "Ann Bee");
}

}  // namespace
}  // namespace corvane::namewell

namespace corvane::namewell {
namespace {

// A field of the record and the value a person reads in the reply.
using Expected =
    std::vector<std::pair<std::string WhoisRecord::*, std::string>>;

void ExpectFields(const std::string& file, const Expected& expected) {
  SCOPED_TRACE(file);
  ParsedReply parsed = ReadReply(ReadReplyFile(file));
  EXPECT_TRUE(parsed.record.record_found);
  EXPECT_FALSE(parsed.throttle.throttled);
  for (const auto& [field, value] : expected) {
    EXPECT_EQ(parsed.record.*field, value);
  }
}

using R = WhoisRecord;

// Older registrar replies: contact sections that end before a zone
// contact, sentence and dotted date lines, no "Registrant:" heading.
TEST(LegacyLayoutTest, DatesAndServersSurviveContactSectionsThatEndEarly) {
  const std::string jan =
      "Doe, Jan\t\tjan@widget-works.com\n      Widget Works\n"
      "      1 Main Street\n      Springfield, XX 00000\n      US\n"
      "      555-0100 fax: 555-0199";
  ExpectFields(
      "legacy-registrar-no-zone.txt",
      {{&R::domain_name, "WIDGET-WORKS.COM"},
       {&R::registrant,
        "Widget Works\n   1 Main Street\n   Springfield, XX "
        "00000\n   US"},
       {&R::administrative_contact, jan},
       {&R::technical_contact, jan},
       {&R::record_created, "15-Mar-1995"},
       {&R::expiry_time, "15-Mar-2030"},
       {&R::database_updated, "5-Dec-2024 15:40:41 EST"},
       {&R::domain_servers, "NS1.WIDGET-WORKS.COM\nNS2.WIDGET-WORKS.COM"}});
  ExpectFields(
      "legacy-registrar-dotted.txt",
      {{&R::domain_name, "widget-works.net"},
       {&R::registrar, "Example Names Ltd."},
       {&R::registrant,
        "Widget Works\nJan Doe (jan@widget-works.net)\n+1.5550100\n"
        "1 Main Street\nSpringfield XX 00000\nUS"},
       {&R::administrative_contact,
        "Widget Works\nKim Roe (kim@widget-works.net)\n1 Main Street\n"
        "Springfield XX 00000\nUS"},
       {&R::record_created, "1999-03-15"},
       {&R::expiry_time, "2030-03-15"},
       {&R::record_updated, "2024-11-02"},
       {&R::domain_status, "Locked"},
       {&R::domain_servers, "ns1.example-hosting.zz\nns2.example-hosting.zz"}});
  ExpectFields(
      "legacy-1996.txt",
      {{&R::registrant,
        "Widget Works (WIDGET2-DOM)\n   1 Main Street\n   "
        "Springfield, XX 00000"},
       {&R::domain_name, "WIDGET.ZZ"},
       {&R::zone_contact, "Doe, Jan  (JD1)  jan@widget.zz\n      555 0100"},
       {&R::record_updated, "01-Oct-96"},
       {&R::record_created, "15-Mar-95"},
       {&R::domain_servers,
        "NS1.WIDGET.ZZ\t\t192.0.2.1\n   NS2.WIDGET.ZZ\t\t192.0.2.2"}});
}

// The full stop that ends a date sentence or a server name takes the blanks
// (and CRs) before it along.
TEST(LegacyLayoutTest, DateSentenceEndsBeforeTheBlanksAndItsStop) {
  WhoisRecord r = ReadReply(
                      "Domain Name: WIDGET.ZZ\n"
                      "   Record created on 15-Mar-95 .\n"
                      "   Database last updated on 5-Dec-98 15:40:41 EST\r.\n"
                      "nserver: ns1.widget.zz\r.\n")
                      .record;
  EXPECT_EQ(r.record_created, "15-Mar-95");
  EXPECT_EQ(r.database_updated, "5-Dec-98 15:40:41 EST");
  EXPECT_EQ(r.domain_servers, "ns1.widget.zz");
}

// The .com registry's "multiple entries" reply lists look-alike hosts
// before the domain's own record: their registrars and servers are not
// the domain's.
TEST(LegacyLayoutTest, LookAlikeHostsBeforeTheRecordAreSkipped) {
  ExpectFields("com-multiple-entries.txt",
               {{&R::domain_name, "WIDGET.COM"},
                {&R::registrar, "THE WIDGET REGISTRAR, INC."},
                {&R::domain_servers, "NS1.WIDGET.COM\nNS2.WIDGET.COM"},
                {&R::record_created, "15-sep-1997"},
                {&R::expiry_time, "14-sep-2020"}});
  EXPECT_EQ(
      ReadReply(ReadReplyFile("com-multiple-entries.txt")).referral.server,
      "whois.widget-registrar.zz");
}

TEST(PlaceholderTest, WithheldValuesFillNothingAndAreNamed) {
  ExpectFields("icann-redacted.txt",
               {{&R::registrant, "Widget Works Inc.\nXX\nUS"},
                {&R::administrative_contact, ""},
                {&R::technical_contact,
                 "Lee Poe\nExample Hosting\nnoc@example-hosting.zz"},
                {&R::redacted_fields,
                 "Registrant Name\nRegistrant Street\nRegistrant City\n"
                 "Registrant Postal Code\nRegistrant Phone\nRegistrant Email\n"
                 "Admin Name\nAdmin Organization\nAdmin Street\nAdmin Email"}});
  ExpectFields("registry-direct.txt", {{&R::registrar, ""},
                                       {&R::redacted_fields, ""},
                                       {&R::domain_servers, "ns1.widget.zz"}});
  EXPECT_TRUE(IsPlaceholder(" REDACTED FOR PRIVACY "));
  EXPECT_TRUE(IsPlaceholder("-"));
  EXPECT_FALSE(IsPlaceholder("Redwood Hosting"));
  EXPECT_FALSE(IsPlaceholder("--"));
}

TEST(CountryLayoutTest, EachRegistrysLayoutGivesItsFields) {
  ExpectFields(
      "it-nic.txt",
      {{&R::domain_name, "widget-works.it"},
       {&R::domain_status, "ok"},
       {&R::record_created, "1999-12-10 00:00:00"},
       {&R::record_updated, "2024-01-11 00:53:39"},
       {&R::expiry_time, "2024-12-26"},
       {&R::registrant, "Widget Works Srl\nVia Roma 1\nMilano\n20100\nMI\nIT"},
       {&R::administrative_contact,
        "Mario Rossi\nWidget Works Srl\nVia Roma 1\nMilano\n20100\nMI\nIT"},
       {&R::technical_contact,
        "Luigi Bianchi\nExample Hosting SpA\nCorso Italia 9\nTorino\n10100\n"
        "TO\nIT"},
       {&R::registrar, "Example Registrar SpA"},
       {&R::domain_servers, "ns1.example-hosting.it\nns2.example-hosting.it"}});
  ExpectFields(
      "de-denic-contacts.txt",
      {{&R::domain_name, "widget-works.de"},
       {&R::domain_servers, "ns1.example-hosting.de\nns2.example-hosting.de"},
       {&R::record_updated, "2014-05-19T11:12:13+02:00"},
       {&R::technical_contact,
        "Hostmaster of the Day\nExample Hosting GmbH\nHafenstrasse 1\n20095\n"
        "Hamburg\nDE\n+49.4000000\n+49.4000001\nhostmaster@example-hosting.de"},
       {&R::zone_contact,
        "Zone Keeper\nExample Hosting GmbH\nHafenstrasse 1\n20095\nHamburg\n"
        "DE\nzone@example-hosting.de"}});
  ExpectFields(
      "nl-sidn-legacy.txt",
      {{&R::registrar, "Example Registrar B.V."},
       {&R::technical_contact,
        "Example Hosting B.V.\nPrinsengracht 9\n1016AA Amsterdam\nNetherlands"},
       {&R::record_created, "12-03-1999"},
       {&R::record_updated, "01-02-2014"},
       {&R::domain_servers, "ns1.example-hosting.nl\nns2.example-hosting.nl"}});
  ExpectFields(
      "au-auda.txt",
      {{&R::registrar, "Example Registrar Pty Ltd"},
       {&R::record_updated, "2024-05-01T10:11:12Z"},
       {&R::registrant, "Jan Doe\nWidget Works Pty Ltd"},
       {&R::technical_contact, "Kim Roe"},
       {&R::redacted_fields, "Registrant Contact Email\nTech Contact Email"},
       {&R::domain_servers,
        "ns1.example-hosting.com.au\nns2.example-hosting.com.au"}});
  ExpectFields("jp-jprs-co.txt",
               {{&R::domain_name, "WIDGET-WORKS.CO.JP"},
                {&R::registrant, "Widget Works K.K."},
                {&R::administrative_contact, "JD12345JP"},
                {&R::technical_contact, "KR67890JP"},
                {&R::domain_status, "Connected"},
                {&R::expiry_time, "2025/05/31"},
                {&R::record_created, "2001/05/22"},
                {&R::record_updated, "2024/06/01 01:05:07 (JST)"}});
  ExpectFields(
      "ru-tci.txt",
      {{&R::domain_name, "WIDGET-WORKS.RU"},
       {&R::registrant, "Widget Works LLC"},
       {&R::registrar, "EXAMPLE-RU"},
       {&R::domain_status, "REGISTERED, DELEGATED, VERIFIED"},
       {&R::record_created, "2004-07-01T20:00:00Z"},
       {&R::expiry_time, "2025-07-02T21:00:00Z"},
       {&R::database_updated, "2024-06-01T12:00:00Z"},
       {&R::domain_servers, "ns1.example-hosting.ru\nns2.example-hosting.ru"}});
  ExpectFields(
      "edu-educause.txt",
      {{&R::domain_name, "WIDGET.EDU"},
       {&R::registrant,
        "Widget University\n1 College Avenue\nSpringfield, XX 00000\nUSA"},
       {&R::administrative_contact,
        "Jan Doe\nWidget University\n1 College Avenue\nSpringfield, XX "
        "00000\nUSA\n+1.5555550100\njan@widget.edu"},
       {&R::record_created, "15-Mar-1995"},
       {&R::record_updated, "01-Jun-2024"},
       {&R::expiry_time, "31-Jul-2025"},
       {&R::domain_servers, "NS1.WIDGET.EDU\nNS2.WIDGET.EDU"}});
  ExpectFields(
      "nu-iis.txt",
      {{&R::domain_name, "widget-works.nu"},
       {&R::registrant, "widget1234-00001"},
       {&R::administrative_contact, ""},
       {&R::registrar, "Example Registrar AB"},
       {&R::record_created, "1999-03-12"},
       {&R::record_updated, "2024-02-01"},
       {&R::expiry_time, "2025-03-12"},
       {&R::domain_status, "ok"},
       {&R::domain_servers, "ns1.example-hosting.nu\nns2.example-hosting.nu"}});
}

TEST(ThrottleTest, RateLimitWordingsAreNoRecord) {
  struct {
    const char* reply;
    const char* notice;
    int32_t wait;
  } rows[] = {
      {"Query rate limit exceeded. Try again in 60 seconds.\r\n",
       "Query rate limit exceeded. Try again in 60 seconds.", 60},
      {"WHOIS LIMIT EXCEEDED - SEE WWW.EXAMPLE.ZZ/WHOIS FOR DETAILS\n",
       "WHOIS LIMIT EXCEEDED - SEE WWW.EXAMPLE.ZZ/WHOIS FOR DETAILS", 0},
      {"%ERROR:201: access denied\n%\n% Access denied: please try again "
       "later (wait 5 minutes).\n",
       "Access denied: please try again later (wait 5 minutes).", 300},
      {"Your connection limit exceeded. Please slow down and try again "
       "after 1 hour.\n",
       "Your connection limit exceeded. Please slow down and try again after "
       "1 hour.",
       3600},
  };
  for (const auto& row : rows) {
    ParsedReply parsed = ReadReply(row.reply);
    EXPECT_TRUE(parsed.throttle.throttled) << row.reply;
    EXPECT_EQ(parsed.throttle.notice, row.notice);
    EXPECT_EQ(parsed.throttle.wait_seconds, row.wait);
    EXPECT_FALSE(parsed.record.record_found);
  }
  // A record whose terms mention a rate limit is a record.
  ParsedReply record = ReadReply(
      "Domain Name: WIDGET.ZZ\nTerms: queries beyond the rate limit are "
      "refused.\n");
  EXPECT_FALSE(record.throttle.throttled);
  EXPECT_EQ(record.record.domain_name, "WIDGET.ZZ");
}

}  // namespace
}  // namespace corvane::namewell

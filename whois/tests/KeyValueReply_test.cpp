// SPDX-License-Identifier: Apache-2.0
#include "whois/KeyValueReply.h"

#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

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
                   "", "ACTIVE",
                   "A.GTLD-SERVERS.NET 192.5.6.30 2001:503:a83e:0:0:0:2:30\n"
                   "B.GTLD-SERVERS.NET 192.33.14.30 2001:503:231d:0:0:0:2:30",
                   "", "", "", "whois.verisign-grs.com"},
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

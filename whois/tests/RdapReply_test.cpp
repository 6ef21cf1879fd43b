// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapReply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace corvane::namewell {
namespace {

// A .com registry's answer: the registrar entity (with its abuse contact
// nested), the link to the registrar's own RDAP server, events, name
// servers, statuses, notices.
constexpr std::string_view kRegistryAnswer = R"({
  "objectClassName": "domain",
  "handle": "2336799_DOMAIN_COM-VRSN",
  "ldhName": "EXAMPLE-WIDGETS.COM",
  "links": [
    {"value": "https://rdap.verisign.com/com/v1/domain/EXAMPLE-WIDGETS.COM",
     "rel": "self",
     "href": "https://rdap.verisign.com/com/v1/domain/EXAMPLE-WIDGETS.COM",
     "type": "application/rdap+json"},
    {"value": "https://rdap.verisign.com/com/v1/domain/EXAMPLE-WIDGETS.COM",
     "rel": "related",
     "href": "https://rdap.widget-registrar.example/rdap/domain/EXAMPLE-WIDGETS.COM",
     "type": "application/rdap+json"}
  ],
  "status": ["client delete prohibited", "client transfer prohibited",
             "client update prohibited"],
  "entities": [{
    "objectClassName": "entity",
    "handle": "9999",
    "roles": ["registrar"],
    "publicIds": [{"type": "IANA Registrar ID", "identifier": "9999"}],
    "vcardArray": ["vcard", [["version", {}, "text", "4.0"],
                             ["fn", {}, "text", "Widget Registrar, Inc."]]],
    "entities": [{
      "objectClassName": "entity",
      "roles": ["abuse"],
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"],
        ["fn", {}, "text", ""],
        ["tel", {"type": "voice"}, "uri", "tel:+1.5555550100"],
        ["email", {}, "text", "abuse@widget-registrar.example"]]]
    }]
  }],
  "events": [
    {"eventAction": "registration", "eventDate": "1997-09-15T04:00:00Z"},
    {"eventAction": "expiration", "eventDate": "2028-09-14T04:00:00Z"},
    {"eventAction": "last changed", "eventDate": "2019-09-09T15:39:04Z"},
    {"eventAction": "last update of RDAP database",
     "eventDate": "2026-12-08T06:59:12Z"}
  ],
  "secureDNS": {"delegationSigned": false},
  "nameservers": [
    {"objectClassName": "nameserver", "ldhName": "NS1.EXAMPLE-WIDGETS.COM"},
    {"objectClassName": "nameserver", "ldhName": "NS2.EXAMPLE-WIDGETS.COM"}
  ],
  "rdapConformance": ["rdap_level_0", "icann_rdap_technical_implementation_guide_1"],
  "notices": [{"title": "Terms of Use", "description": ["Service subject to Terms of Use."]}]
})";

// The registrar's answer: registrant, administrative and technical
// contacts as jCards (address components, a street of two lines), an IDN
// name beside its ASCII form.
constexpr std::string_view kRegistrarAnswer = R"({
  "objectClassName": "domain",
  "ldhName": "xn--bcher-kva.example",
  "unicodeName": "b\u00fccher.example",
  "entities": [
    {"objectClassName": "entity", "roles": ["registrant"],
     "vcardArray": ["vcard", [
       ["version", {}, "text", "4.0"],
       ["fn", {}, "text", "Jan Doe"],
       ["org", {}, "text", "Widget Works"],
       ["adr", {}, "text", ["", "", ["1 Main Street", "Suite 4"],
                           "Springfield", "XX", "00000", "US"]],
       ["tel", {}, "uri", "tel:+1.5555550100"],
       ["email", {}, "text", "jan@widget.example"]]]},
    {"objectClassName": "entity", "roles": ["administrative", "technical"],
     "vcardArray": ["vcard", [
       ["fn", {}, "text", "Kim Roe"],
       ["adr", {"label": "2 Side Street\nSpringfield"}, "text",
        ["", "", "", "", "", "", ""]],
       ["tel", {"type": ["voice"]}, "uri", "tel:+1.5555550101"],
       ["email", {}, "text", "kim@widget.example"]]]},
    {"objectClassName": "entity", "roles": ["reseller"],
     "entities": [{"roles": ["billing"],
       "vcardArray": ["vcard", [["fn", {}, "text", "Lee Poe"],
                                ["email", {}, "text", "lee@widget.example"]]]}]}
  ]
})";

TEST(RdapReplyTest, RegistryAnswer) {
  RdapReply reply = ReadRdapReply(kRegistryAnswer);
  ASSERT_TRUE(reply.readable);
  const WhoisRecord& r = reply.record;
  EXPECT_TRUE(r.record_found);
  EXPECT_EQ(r.domain_name, "EXAMPLE-WIDGETS.COM");
  EXPECT_EQ(r.registrar, "Widget Registrar, Inc.");
  EXPECT_EQ(r.record_created, "1997-09-15T04:00:00Z");
  EXPECT_EQ(r.record_updated, "2019-09-09T15:39:04Z");
  EXPECT_EQ(r.expiry_time, "2028-09-14T04:00:00Z");
  EXPECT_EQ(r.database_updated, "2026-12-08T06:59:12Z");
  EXPECT_EQ(r.domain_servers,
            "NS1.EXAMPLE-WIDGETS.COM\nNS2.EXAMPLE-WIDGETS.COM");
  EXPECT_EQ(r.domain_status,
            "client delete prohibited\nclient transfer prohibited\n"
            "client update prohibited");
  EXPECT_EQ(reply.related,
            "https://rdap.widget-registrar.example/rdap/domain/"
            "EXAMPLE-WIDGETS.COM");
  // The abuse contact is none of the whois contacts.
  EXPECT_EQ(r.registrant + r.administrative_contact + r.technical_contact +
                r.zone_contact + r.billing_contact,
            "");
  EXPECT_FALSE(reply.error_object);
}

TEST(RdapReplyTest, RegistrarAnswerWithContacts) {
  RdapReply reply = ReadRdapReply(kRegistrarAnswer);
  const WhoisRecord& r = reply.record;
  EXPECT_EQ(r.domain_name,
            "xn--bcher-kva.example (b\xc3\xbc"
            "cher.example)");
  EXPECT_EQ(r.registrant,
            "Jan Doe\nWidget Works\n1 Main Street\nSuite 4\nSpringfield\nXX\n"
            "00000\nUS");
  const char* kim =
      "Kim Roe\n2 Side Street\nSpringfield\ntel:+1.5555550101\n"
      "kim@widget.example";
  EXPECT_EQ(r.administrative_contact, kim);
  EXPECT_EQ(r.technical_contact, kim);
  EXPECT_EQ(r.billing_contact, "Lee Poe\nlee@widget.example");
  EXPECT_EQ(r.zone_contact, "");
  EXPECT_EQ(r.registrar + r.domain_servers + r.domain_status + reply.related,
            "");
}

TEST(RdapReplyTest, ErrorObject) {
  RdapReply reply = ReadRdapReply(
      R"({"errorCode": 429, "title": "Too Many Requests",
          "description": ["Query rate exceeded.", "Retry in 60 s."],
          "rdapConformance": ["rdap_level_0"]})");
  EXPECT_TRUE(reply.readable);
  EXPECT_FALSE(reply.record.record_found);
  EXPECT_TRUE(reply.error_object);
  EXPECT_EQ(reply.error_code, 429);
  EXPECT_EQ(reply.error_title, "Too Many Requests");
  EXPECT_EQ(reply.error_description, "Query rate exceeded. Retry in 60 s.");
}

// Answers of any shape are read without a fault; what is mistyped is left
// out, and answers nesting deeper than 128 levels are not read.
TEST(RdapReplyTest, OddAnswers) {
  std::string deep(200000, '[');
  std::string deep_entities;
  for (int i = 0; i < 30; ++i) deep_entities += R"({"entities":[)";
  deep_entities +=
      R"({"roles":["registrant"],"vcardArray":["vcard",[["fn",{},"text","Deep"]]]})";
  for (int i = 0; i < 30; ++i) deep_entities += "]}";
  std::string too_deep = deep_entities;
  too_deep.replace(too_deep.find("\"Deep\""), 6,
                   std::string(70, '[') + std::string(70, ']'));
  std::string many = R"({"nameservers":[)";
  for (int i = 0; i < 20000; ++i) many += R"({"ldhName":"ns.zz"},)";
  many += "7]}";
  struct {
    std::string answer;
    bool readable;
    const char* registrant;
    size_t servers;
  } rows[] = {
      {"", false, "", 0},
      {"not json", false, "", 0},
      {"[1,2]", false, "", 0},
      {"\"text\"", false, "", 0},
      {deep, false, "", 0},
      {"{\"ldhName\": \"a\xff.zz\"}", false, "", 0},
      {R"({"ldhName": 5, "entities": {}, "events": "x", "status": [1, null],
           "nameservers": [5, {"ldhName": []}], "links": [{"rel": "related"}]})",
       true, "", 0},
      {R"({"entities": [{"roles": "registrant"}, {"roles": [7, "registrant"],
           "vcardArray": ["vcard", [["fn"], ["fn", {}, "text"], 3,
                                    ["adr", 1, "text", 2]]]}]})",
       true, "", 0},
      {R"({"entities":[{"roles":["registrant"],"vcardArray":["vcard",[["fn",{},"text",["A","B",7]]]]}]})",
       true, "A\nB", 0},
      {R"({"errorCode": 1.5e300, "title": 4})", true, "", 0},
      {deep_entities, true, "Deep", 0},
      {too_deep, false, "", 0},
      {R"({"ldhName": "[[[[\"{{{{"})", true, "", 0},
      {many, true, "", 20000},
  };
  for (const auto& row : rows) {
    RdapReply reply = ReadRdapReply(row.answer);
    EXPECT_EQ(reply.readable, row.readable) << row.answer.substr(0, 80);
    EXPECT_EQ(reply.record.registrant, row.registrant)
        << row.answer.substr(0, 80);
    size_t servers = reply.record.domain_servers.empty()
                         ? 0
                         : std::count(reply.record.domain_servers.begin(),
                                      reply.record.domain_servers.end(), '\n') +
                               1;
    EXPECT_EQ(servers, row.servers) << row.answer.substr(0, 80);
  }
}

}  // namespace
}  // namespace corvane::namewell

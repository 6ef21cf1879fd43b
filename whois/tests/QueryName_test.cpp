// SPDX-License-Identifier: Apache-2.0
#include "whois/QueryName.h"

#include <gtest/gtest.h>

namespace corvane::namewell {
namespace {

TEST(QueryNameTest, AsciiQueriesLoseOnlyTheirOuterSpaces) {
  EXPECT_EQ(PrepareQueryText("  widget.zz ").text, "widget.zz");
  EXPECT_EQ(PrepareQueryText("\twidget.zz").text, "\twidget.zz");
  EXPECT_EQ(PrepareQueryText("").text, "");
  EXPECT_EQ(PrepareQueryText("").problem, "");
}

TEST(QueryNameTest, InternationalNamesBecomeAscii) {
  EXPECT_EQ(PrepareQueryText("b\xc3\xbc"
                             "cher.de")
                .text,
            "xn--bcher-kva.de");
  // Upper case is mapped before the conversion.
  EXPECT_EQ(PrepareQueryText(" B\xc3\x9c"
                             "CHER.de ")
                .text,
            "xn--bcher-kva.de");
  EXPECT_EQ(PrepareQueryText("\xe6\x97\xa5\xe6\x9c\xac.jp").text,
            "xn--wgv71a.jp");
}

TEST(QueryNameTest, RefusedTextsSayWhyAndGiveNothingToSend) {
  const std::string refused[] = {
      "widget.zz\r\nsecond.zz",
      "widget.zz\n",
      "\rwidget.zz",
      std::string("widget.zz\0x", 11),
      "b\xc3\xbc"
      "cher\xff.de",  // a domain name that is not UTF-8
  };
  for (const std::string& query : refused) {
    QueryText prepared = PrepareQueryText(query);
    EXPECT_EQ(prepared.text, "") << query;
    EXPECT_NE(prepared.problem, "") << query;
  }
  EXPECT_EQ(PrepareQueryText("a\nb").problem,
            "The query holds a line break or a NUL character; nothing was "
            "sent.");
}

// Only a domain name is converted: a name of a person or company, text
// with a blank, or a word without a dot goes out as given, in UTF-8.
TEST(QueryNameTest, TextThatIsNoDomainNameIsSentAsGiven) {
  const std::string kept[] = {
      "M\xc3\xbcller GmbH",
      "M\xc3\xbcller",
      "b\xc3\xbc"
      "cher .de",
      "bad\xff name.zz",
      "jan_m\xc3\xbcller.zz",
  };
  for (const std::string& query : kept) {
    QueryText prepared = PrepareQueryText(" " + query + "  ");
    EXPECT_EQ(prepared.text, query);
    EXPECT_EQ(prepared.problem, "");
  }
}

}  // namespace
}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/QueryName.h"

#include <gtest/gtest.h>

#include "platform/Failure.h"

namespace corvane::namewell {
namespace {

TEST(QueryNameTest, AsciiQueriesLoseOnlyTheirOuterSpaces) {
  EXPECT_EQ(PrepareQueryText("  widget.zz "), "widget.zz");
  EXPECT_EQ(PrepareQueryText("\twidget.zz"), "\twidget.zz");
  EXPECT_EQ(PrepareQueryText(""), "");
}

TEST(QueryNameTest, InternationalNamesBecomeAscii) {
  EXPECT_EQ(PrepareQueryText("b\xc3\xbc"
                             "cher.de"),
            "xn--bcher-kva.de");
  // Upper case is mapped before the conversion.
  EXPECT_EQ(PrepareQueryText(" B\xc3\x9c"
                             "CHER.de "),
            "xn--bcher-kva.de");
  EXPECT_EQ(PrepareQueryText("\xe6\x97\xa5\xe6\x9c\xac.jp"), "xn--wgv71a.jp");
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
    try {
      (void)PrepareQueryText(query);
      ADD_FAILURE() << query << " was accepted";
    } catch (const Failure& failure) {
      EXPECT_NE(failure.description, "") << query;
    }
  }
  try {
    (void)PrepareQueryText("a\nb");
    ADD_FAILURE() << "a line break was accepted";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.description,
              "The query holds a line break or a NUL character; nothing was "
              "sent.");
  }
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
    EXPECT_EQ(PrepareQueryText(" " + query + "  "), query);
  }
}

}  // namespace
}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/EmailAddresses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::namewell {
namespace {

using Addresses = std::vector<std::string>;

TEST(ExtractEmailTest, FindsAddressesBetweenDelimitersInTextOrder) {
  EXPECT_EQ(ExtractEmail("Doe, Jan  (JD1)  jan@widget.zz\n      555 0100"),
            Addresses{"jan@widget.zz"});
  EXPECT_EQ(ExtractEmail("a.b@one.zz, c-d@two.org"),
            (Addresses{"a.b@one.zz", "c-d@two.org"}));
  EXPECT_EQ(ExtractEmail("Jan <jan@widget.zz> kim_r@widget.zz"),
            (Addresses{"jan@widget.zz", "kim_r@widget.zz"}));
  EXPECT_EQ(ExtractEmail("x\tjan@widget.zz\r\n"), Addresses{"jan@widget.zz"});
  EXPECT_EQ(ExtractEmail(std::string("\bjan@widget.zz\b")),
            Addresses{"jan@widget.zz"});
  EXPECT_EQ(ExtractEmail("jan@widget.zz"), Addresses{"jan@widget.zz"});
}

TEST(ExtractEmailTest, NothingWithoutAnAcceptableAddress) {
  EXPECT_TRUE(ExtractEmail("").empty());
  EXPECT_TRUE(ExtractEmail("Doe, Jan  (JD1)\n555 0100").empty());
  EXPECT_TRUE(ExtractEmail("@").empty());
  EXPECT_TRUE(ExtractEmail("jan@widget.info").empty());
  EXPECT_TRUE(ExtractEmail("jan@zz").empty());
}

TEST(ExtractEmailTest, BreakingCharactersDropTheCandidate) {
  EXPECT_TRUE(ExtractEmail("(jan@widget.zz)").empty());
  EXPECT_TRUE(ExtractEmail("mail:jan@widget.zz").empty());
  EXPECT_TRUE(ExtractEmail("jan@widget.zz;").empty());
  EXPECT_TRUE(ExtractEmail("j\xC3\xA4n@widget.zz").empty());
  // The search goes on with the next "@".
  EXPECT_EQ(ExtractEmail("(jan@widget.zz) kim@widget.zz"),
            Addresses{"kim@widget.zz"});
  EXPECT_EQ(ExtractEmail("jan@widget.zz; kim@widget.zz"),
            Addresses{"kim@widget.zz"});
  // A breaker right of the "@" that is itself an "@" is looked at next.
  EXPECT_EQ(ExtractEmail("x@y@widget.zz"), Addresses{});
  EXPECT_EQ(ExtractEmail("ab@c@widget.zz kim@widget.zz"),
            Addresses{"kim@widget.zz"});
}

TEST(ExtractEmailTest, LeftPartIsCutToTheWindow) {
  std::string local(70, 'a');
  Addresses found = ExtractEmail(local + "@b.zzz");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0], std::string(63, 'a') + "@b.zzz");
  EXPECT_EQ(found[0].size(), 69u);
  // Exactly 63 characters fit; a breaker 64 places away is not looked at.
  EXPECT_EQ(ExtractEmail("(" + std::string(63, 'a') + "@b.zz"),
            Addresses{std::string(63, 'a') + "@b.zz"});
  EXPECT_TRUE(ExtractEmail("(" + std::string(62, 'a') + "@b.zz").empty());
}

TEST(ExtractEmailTest, RightPartIsCutToTheWindow) {
  // 63 characters after the "@" end in ".zz": the cut candidate passes.
  std::string domain = std::string(60, 'd') + ".zz";
  EXPECT_EQ(ExtractEmail("a@" + domain + "more"), Addresses{"a@" + domain});
  // Cut inside a long label, the candidate fails the check.
  EXPECT_TRUE(ExtractEmail("a@" + std::string(70, 'd') + ".zz").empty());
  // A breaker 64 places away is not looked at; one at 63 drops the candidate.
  EXPECT_EQ(ExtractEmail("a@" + domain + "("), Addresses{"a@" + domain});
  EXPECT_TRUE(ExtractEmail("a@" + domain.substr(1) + "(").empty());
}

TEST(ValidateEmailTest, ChecksLengthFinalLabelAndAt) {
  EXPECT_TRUE(ValidateEmail("ab@cd.ef"));
  EXPECT_TRUE(ValidateEmail("a@b.cd"));
  EXPECT_TRUE(ValidateEmail("a@b.cde"));
  EXPECT_TRUE(ValidateEmail("@ab.cde"));
  EXPECT_TRUE(ValidateEmail("A@B.CD"));
  EXPECT_FALSE(ValidateEmail("a@b.cdef"));
  EXPECT_FALSE(ValidateEmail("a@b.c"));
  EXPECT_FALSE(ValidateEmail("ab.cd"));
  EXPECT_FALSE(ValidateEmail("a.b"));
  EXPECT_FALSE(ValidateEmail(""));
  // Fewer than 4 characters after the first "@".
  EXPECT_FALSE(ValidateEmail("abc@.cd"));
  EXPECT_TRUE(ValidateEmail("abc@x.cd"));
  // Only the first "@" counts, and nothing else is looked at.
  EXPECT_TRUE(ValidateEmail("a@b@c.de"));
  EXPECT_TRUE(ValidateEmail("(a)@b.cd"));
}

}  // namespace
}  // namespace corvane::namewell

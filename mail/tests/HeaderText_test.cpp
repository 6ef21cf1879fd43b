// SPDX-License-Identifier: Apache-2.0
#include "mail/HeaderText.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corvane::penrill {
namespace {

// The decoded bytes of B-encoded words (the test's own small decoder).
std::string DecodeWords(std::string_view words, std::string_view charset) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string decoded;
  const std::string prefix = "=?" + std::string(charset) + "?B?";
  size_t at = 0;
  while ((at = words.find(prefix, at)) != std::string_view::npos) {
    size_t start = at + prefix.size();
    size_t end = words.find("?=", start);
    EXPECT_LE(end + 2 - at, 75u) << "an encoded word is at most 75 long";
    uint32_t bits = 0;
    int count = 0;
    for (char c : words.substr(start, end - start)) {
      if (c == '=') break;
      bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(c));
      if ((count += 6) >= 8) {
        count -= 8;
        decoded += static_cast<char>((bits >> count) & 0xFF);
      }
    }
    at = end + 2;
  }
  return decoded;
}

TEST(HeaderText, EightBitSubjectsBecomeEncodedWords) {
  const std::string long_text =
      "Gr\xC3\xBC\xC3\x9F"
      "e aus K\xC3\xB6ln, " +
      std::string(60, 'x') +
      " \xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC \xF0\x9F\x93\xA7";
  for (const std::string& text : {std::string("Gr\xC3\xBC\xC3\x9F"
                                              "e"),
                                  long_text}) {
    std::string value = HeaderValue(text, "UTF-8");
    EXPECT_EQ(value.find_first_of("\x80\xFF"), std::string::npos);
    EXPECT_EQ(DecodeWords(value, "UTF-8"), text);
    // Every word holds whole characters: each decodes as UTF-8 on its own.
    size_t start = 0;
    while (start < value.size()) {
      size_t end = value.find("\r\n ", start);
      std::string word = value.substr(start, end - start);
      EXPECT_TRUE(IsUtf8(DecodeWords(word, "UTF-8"))) << word;
      if (end == std::string::npos) break;
      start = end + 3;
    }
  }
  EXPECT_EQ(HeaderValue("Plain subject, kept as it is", "UTF-8"),
            "Plain subject, kept as it is");
  EXPECT_EQ(HeaderValue("caf\xE9", "iso-8859-1"), "=?iso-8859-1?B?Y2Fm6Q==?=");
}

TEST(HeaderText, CharsetFollowsTheBody) {
  EXPECT_EQ(HeaderCharset(""), "UTF-8");
  EXPECT_EQ(HeaderCharset("us-ascii"), "UTF-8");
  EXPECT_EQ(HeaderCharset("US-ASCII"), "UTF-8");
  EXPECT_EQ(HeaderCharset("iso-8859-1"), "iso-8859-1");
}

TEST(HeaderText, DisplayNamesAreEncodedAddressesKept) {
  const std::pair<std::string, std::string> cases[] = {
      {"J\xC3\xB6rg <j@example.org>", "=?UTF-8?B?SsO2cmc=?= <j@example.org>"},
      {"\"M\xC3\xBCller, J\xC3\xB6rg\" <j@example.org>",
       "=?UTF-8?B?TcO8bGxlciwgSsO2cmc=?= <j@example.org>"},
      {"Plain <p@example.org>", "Plain <p@example.org>"},
      {"bare@example.org", "bare@example.org"},
      {"j\xC3\xB6rg@example.org", "j\xC3\xB6rg@example.org"},
      {"Name <j\xC3\xB6rg@example.org>", "Name <j\xC3\xB6rg@example.org>"},
  };
  for (const auto& [entry, written] : cases) {
    EXPECT_EQ(HeaderAddress(entry, "UTF-8"), written) << entry;
  }
}

TEST(HeaderText, AddressLinesFoldOnlyWhenTooLong) {
  std::vector<std::string> shortList = {"a@example.org", "B <b@example.org>"};
  EXPECT_EQ(AddressLine("To", shortList),
            "To: a@example.org, B <b@example.org>");
  // Three long addresses after the 1,024-character stop: unfolded, the
  // line would be far beyond what a server takes.
  std::vector<std::string> longList;
  for (int i = 0; i < 5; ++i) {
    longList.push_back(std::string(400, static_cast<char>('a' + i)) +
                       "@example.org");
  }
  std::string line = AddressLine("To", longList);
  size_t start = 0;
  size_t lines = 0;
  for (;;) {
    size_t end = line.find("\r\n", start);
    EXPECT_LE((end == std::string::npos ? line.size() : end) - start,
              kMaxHeaderLine);
    ++lines;
    if (end == std::string::npos) break;
    EXPECT_EQ(line[end - 1], ',');
    EXPECT_EQ(line[end + 2], ' ');
    start = end + 2;
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_NE(line.find(longList[2]), std::string::npos);
  EXPECT_EQ(line.find(longList[3]), std::string::npos) << "the stop holds";
}

TEST(HeaderText, LongLinesFoldBeforeBlanksOnlyWhenTooLong) {
  const std::string fits = "Subject: " + std::string(989, 'a');
  EXPECT_EQ(FoldAtBlanks(fits), fits);
  std::string words = "Subject:";
  for (int i = 0; i < 200; ++i) words += " word" + std::to_string(i % 10);
  std::string folded = FoldAtBlanks(words);
  std::string unfolded;
  size_t longest = 0;
  for (size_t start = 0;;) {
    size_t end = folded.find("\r\n", start);
    std::string_view line = std::string_view(folded).substr(start, end - start);
    longest = std::max(longest, line.size());
    unfolded += line;
    if (end == std::string::npos) break;
    EXPECT_EQ(folded[end + 2], ' ');
    start = end + 2;
  }
  EXPECT_EQ(unfolded, words);
  EXPECT_LE(longest, 78u);
  EXPECT_EQ(FoldAtBlanks("Subject: " + std::string(1200, 'x')), "");
  // Without blanks to fold at, an unstructured value becomes encoded words.
  std::string encoded =
      UnstructuredLine("Subject", std::string(1200, 'x'), "UTF-8");
  EXPECT_TRUE(encoded.starts_with("Subject: =?UTF-8?B?eHh4"));
  EXPECT_EQ(FoldAtBlanks(encoded), encoded);
  EXPECT_EQ(UnstructuredLine("Subject", "Short", "UTF-8"), "Subject: Short");
}

TEST(HeaderText, ExtendedParametersAndFallbacks) {
  EXPECT_EQ(ExtendedParameter("filename", "K\xC3\xB6ln 1.txt", "utf-8"),
            "filename*=utf-8''K%C3%B6ln%201.txt");
  EXPECT_EQ(AsciiFallback("K\xC3\xB6ln \"1\".txt"), "K__ln _1_.txt");
  EXPECT_FALSE(NeedsExtendedParameter("Report 2024 (final).pdf"));
  EXPECT_TRUE(NeedsExtendedParameter("a\"b"));
  EXPECT_TRUE(NeedsExtendedParameter("a\\b"));
  EXPECT_TRUE(NeedsExtendedParameter("a\tb"));
  EXPECT_TRUE(IsUtf8("plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\xA7"));
  EXPECT_FALSE(IsUtf8("latin \xE9t\xE9"));
  EXPECT_FALSE(IsUtf8("\xC3"));
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));  // a surrogate
}

}  // namespace
}  // namespace corvane::penrill

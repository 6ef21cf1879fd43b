// SPDX-License-Identifier: Apache-2.0
#include "web/FileFacts.h"

#include <gtest/gtest.h>

namespace corvane::web {
namespace {

TEST(FileFacts, SizesReadAsPeopleWriteThem) {
  EXPECT_EQ(HumanSize(0), "0 bytes");
  EXPECT_EQ(HumanSize(1), "1 byte");
  EXPECT_EQ(HumanSize(1023), "1023 bytes");
  EXPECT_EQ(HumanSize(1024), "1 KiB");
  EXPECT_EQ(HumanSize(1536), "1.5 KiB");
  EXPECT_EQ(HumanSize(1024 * 1024 - 1), "1 MiB");
  EXPECT_EQ(HumanSize(50ull * 1024 * 1024), "50 MiB");
  EXPECT_EQ(HumanSize(5ull << 40), "5 TiB");
}

TEST(FileFacts, NumberedNamesKeepTheExtension) {
  EXPECT_EQ(NumberedName("report.pdf", 2), "report (2).pdf");
  EXPECT_EQ(NumberedName("archive.tar.gz", 3), "archive.tar (3).gz");
  EXPECT_EQ(NumberedName("notes", 2), "notes (2)");
  EXPECT_EQ(NumberedName(".profile", 2), ".profile (2)");
}

TEST(FileFacts, AsciiFallbackDropsAccentsAndReplacesTheRest) {
  EXPECT_EQ(
      AsciiFallback("R\xC3\xA9sum\xC3\xA9 \xC5\x81\xC3\xB3\x64\xC5\xBA.pdf"),
      "Resume Lodz.pdf");
  // One "_" per character, whatever its length in bytes; quotes, a
  // backslash, control bytes and a broken sequence too.
  EXPECT_EQ(AsciiFallback("\xE6\x97\xA5\xE6\x9C\xAC \"a\\b\"\x01\xC3.txt"),
            "__ _a_b___.txt");
}

TEST(FileFacts, SortsDirectoriesFirstThenByTheKey) {
  std::vector<ListedEntry> entries = {
      {"b.txt", false, 300, 10}, {"z", true, 0, 5},  {"a.txt", false, 300, 30},
      {"c.txt", false, 100, 20}, {"m", true, 0, 50},
  };
  auto names = [&] {
    std::vector<std::string> out;
    for (const auto& entry : entries) out.push_back(entry.name);
    return out;
  };
  using Names = std::vector<std::string>;
  SortEntries(entries, SortKey::kName, false);
  EXPECT_EQ(names(), (Names{"m", "z", "a.txt", "b.txt", "c.txt"}));
  SortEntries(entries, SortKey::kSize, true);
  EXPECT_EQ(names(), (Names{"z", "m", "b.txt", "a.txt", "c.txt"}));
  SortEntries(entries, SortKey::kTime, false);
  EXPECT_EQ(names(), (Names{"z", "m", "b.txt", "c.txt", "a.txt"}));
  EXPECT_EQ(SortKeyOf("size"), SortKey::kSize);
  EXPECT_EQ(SortKeyOf("<bogus>"), SortKey::kName);
  EXPECT_EQ(PageCount(0, 200), 1u);
  EXPECT_EQ(PageCount(2000, 200), 10u);
  EXPECT_EQ(PageCount(2001, 200), 11u);
}

}  // namespace
}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
// The entries of a folder as a person reads them: sizes in KiB and MiB,
// times in a local ISO-like form, the listing's order and pages, numbered
// names for an upload that keeps both files, and ASCII fall-back names for
// downloads. Pure functions; none fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::web {

// "0 bytes", "1 byte", "900 bytes", "1.5 KiB", "12 MiB", "3.2 GiB".
std::string HumanSize(uint64_t bytes);

// A file time (100-ns intervals since 1601 UTC) as local time,
// "2026-12-09 03:53"; empty for 0.
std::string LocalTimeText(int64_t file_time);

// `name` with " (N)" before its extension: "a.pdf" gives "a (2).pdf",
// ".profile" and "notes" give ".profile (2)" and "notes (2)".
std::string NumberedName(std::string_view name, int number);

// A readable ASCII form of a UTF-8 name for a header's plain filename:
// accented Latin letters lose their accents ("Résumé" gives "Resume"), any
// other character, a quote or a backslash becomes one "_".
std::string AsciiFallback(std::string_view name);

struct ListedEntry {
  std::string name;
  bool directory = false;
  uint64_t size = 0;
  int64_t modified = 0;  // a file time as above
};

enum class SortKey { kName, kSize, kTime };

// "size" and "time"; anything else sorts by name.
SortKey SortKeyOf(std::string_view text);
std::string_view SortKeyText(SortKey key);

// Directories first, then files, each by `key` (names break ties, and
// compare by byte value), reversed when `descending`.
void SortEntries(std::vector<ListedEntry>& entries, SortKey key,
                 bool descending);

// The pages of `count` entries, `per_page` a page: at least one.
size_t PageCount(size_t count, size_t per_page);

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
#include "web/FileFacts.h"

#include <algorithm>
#include <cstdio>

#include "platform/Clock.h"

namespace corvane::web {
namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600;
constexpr int64_t kFileTimeTicksPerSecond = 10000000;

// Base letters of U+00C0..U+00FF and of U+0100..U+017F.
constexpr std::string_view kLatin1Letters =
    "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo-ouuuuyty";
constexpr std::string_view kLatinExtendedLetters =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIiIiJjKkkLlLlLlLlLlNnNnN"
    "nnNnOoOoOoOoRrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUuWwYyYZzZzZzs";

// The code point of the UTF-8 sequence at `at` and its length; a broken
// sequence is one byte of no known letter.
std::pair<uint32_t, size_t> CodePointAt(std::string_view text, size_t at) {
  auto byte = static_cast<unsigned char>(text[at]);
  size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
  if (length == 1 || at + length > text.size()) return {0xFFFD, 1};
  uint32_t point = byte & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return {0xFFFD, 1};
    point = (point << 6) | (next & 0x3F);
  }
  return {point, length};
}

}  // namespace

std::string HumanSize(uint64_t bytes) {
  if (bytes == 1) return "1 byte";
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  // 1023.96 KiB would print as "1024.0 KiB": the next unit reads better.
  while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  // Tenths, without a ".0": "1 MiB", "1.5 KiB".
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string shown = text;
  if (shown.ends_with(".0")) shown.resize(shown.size() - 2);
  return shown + " " + kUnits[unit];
}

std::string LocalTimeText(int64_t file_time) {
  if (file_time == 0) return {};
  auto local = platform::LocalCivilTime(file_time / kFileTimeTicksPerSecond -
                                        kFileTimeEpochSeconds);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", local.year,
                local.month, local.day, local.hour, local.minute);
  return text;
}

std::string NumberedName(std::string_view name, int number) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) dot = name.size();
  return std::string(name.substr(0, dot)) + " (" + std::to_string(number) +
         ")" + std::string(name.substr(dot));
}

std::string AsciiFallback(std::string_view name) {
  std::string out;
  for (size_t at = 0; at < name.size();) {
    auto byte = static_cast<unsigned char>(name[at]);
    if (byte < 0x80) {
      bool plain = byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
      out += plain ? static_cast<char>(byte) : '_';
      ++at;
      continue;
    }
    auto [point, length] = CodePointAt(name, at);
    at += length;
    if (point >= 0xC0 && point < 0x100) {
      out += kLatin1Letters[point - 0xC0];
    } else if (point >= 0x100 && point < 0x180) {
      out += kLatinExtendedLetters[point - 0x100];
    } else {
      out += '_';
    }
  }
  return out;
}

SortKey SortKeyOf(std::string_view text) {
  if (text == "size") return SortKey::kSize;
  if (text == "time") return SortKey::kTime;
  return SortKey::kName;
}

std::string_view SortKeyText(SortKey key) {
  switch (key) {
    case SortKey::kSize:
      return "size";
    case SortKey::kTime:
      return "time";
    case SortKey::kName:
      break;
  }
  return "name";
}

void SortEntries(std::vector<ListedEntry>& entries, SortKey key,
                 bool descending) {
  auto before = [key](const ListedEntry& a, const ListedEntry& b) {
    if (key == SortKey::kSize && a.size != b.size) return a.size < b.size;
    if (key == SortKey::kTime && a.modified != b.modified) {
      return a.modified < b.modified;
    }
    return a.name < b.name;
  };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const ListedEntry& a, const ListedEntry& b) {
                     if (a.directory != b.directory) return a.directory;
                     return descending ? before(b, a) : before(a, b);
                   });
}

size_t PageCount(size_t count, size_t per_page) {
  return count == 0 ? 1 : (count + per_page - 1) / per_page;
}

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
#include "upload/DelimiterSearch.h"

#include <algorithm>

namespace corvane::cargane {

DelimiterSearch::DelimiterSearch(std::string delimiter)
    : delimiter_(std::move(delimiter)),
      searcher_(delimiter_.begin(), delimiter_.end()) {}

size_t DelimiterSearch::Find(std::string_view text, size_t from) const {
  while (from <= text.size()) {
    auto found = std::search(text.begin() + from, text.end(), searcher_);
    if (found == text.end()) break;
    auto position = static_cast<size_t>(found - text.begin());
    if (StartsLine(text, position) &&
        ReadDelimiterTail(text.substr(position + delimiter_.size())).kind !=
            DelimiterKind::kContent) {
      return position;
    }
    from = position + 1;
  }
  return std::string_view::npos;
}

DelimiterTail ReadDelimiterTail(std::string_view after) {
  if (after.starts_with("--")) return {DelimiterKind::kClosing, 2};
  size_t end = std::min(after.find_first_not_of(" \t"), after.size());
  if (end > kLongestPadding) return {DelimiterKind::kContent};
  std::string_view rest = after.substr(end);
  if (rest.starts_with("\r\n")) return {DelimiterKind::kPart, end + 2};
  // "-" or CR may still become "--" or CR LF.
  if (rest.empty() || rest == "\r" || (end == 0 && rest == "-")) {
    return {DelimiterKind::kUndecided};
  }
  return {DelimiterKind::kContent};
}

bool StartsLine(std::string_view text, size_t position) {
  return position == 0 ||
         (position >= 2 && text.substr(position - 2, 2) == "\r\n");
}

}  // namespace corvane::cargane

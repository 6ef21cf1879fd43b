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
    if (StartsLine(text, position)) return position;
    from = position + 1;
  }
  return std::string_view::npos;
}

bool StartsLine(std::string_view text, size_t position) {
  return position == 0 ||
         (position >= 2 && text.substr(position - 2, 2) == "\r\n");
}

}  // namespace corvane::cargane

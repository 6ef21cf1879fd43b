// SPDX-License-Identifier: Apache-2.0
// Finds the delimiters of a multipart body: the boundary line "--" boundary
// counts only at the very start of the body or right after CR LF; the same
// text anywhere else is content.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvane::cargane {

class DelimiterSearch {
 public:
  // `delimiter` is "--" followed by the boundary; the search table is built
  // once here. Throws std::bad_alloc only.
  explicit DelimiterSearch(std::string delimiter);
  DelimiterSearch(const DelimiterSearch&) = delete;
  DelimiterSearch& operator=(const DelimiterSearch&) = delete;

  const std::string& delimiter() const { return delimiter_; }
  // Position of the first delimiter in `text` at or after `from`; npos when
  // there is none. Cannot fail.
  size_t Find(std::string_view text, size_t from) const;

 private:
  std::string delimiter_;
  std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher_;
};

// Whether `position` in `text` starts a line: the start of the text or right
// after CR LF.
bool StartsLine(std::string_view text, size_t position);

}  // namespace corvane::cargane

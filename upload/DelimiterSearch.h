// SPDX-License-Identifier: Apache-2.0
// Finds the delimiters of a multipart body: the boundary line "--" boundary
// counts only at the very start of the body or right after CR LF, and only
// when "--" or optional blanks and CR LF follow it; the same text anywhere
// else is content.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvane::cargane {

// What the text right after a boundary at a line start makes of it.
enum class DelimiterKind {
  kPart,       // blanks (at most kLongestPadding) and CR LF: a part follows
  kClosing,    // "--": the closing delimiter
  kContent,    // anything else: the boundary text is content
  kUndecided,  // the text ends before it can tell
};

// Blanks allowed between a boundary and its line break (transport padding).
inline constexpr size_t kLongestPadding = 1024;

struct DelimiterTail {
  DelimiterKind kind;
  // For kPart the bytes up to and including the CR LF, for kClosing 2.
  size_t length = 0;
};

// Reads the text after a boundary; cannot fail.
DelimiterTail ReadDelimiterTail(std::string_view after);

class DelimiterSearch {
 public:
  // `delimiter` is "--" followed by the boundary; the search table is built
  // once here. Throws std::bad_alloc only.
  explicit DelimiterSearch(std::string delimiter);
  DelimiterSearch(const DelimiterSearch&) = delete;
  DelimiterSearch& operator=(const DelimiterSearch&) = delete;

  const std::string& delimiter() const { return delimiter_; }
  // Position of the first delimiter in `text` at or after `from` (one
  // whose tail is undecided at the end of `text` counts); npos when there
  // is none. Cannot fail.
  size_t Find(std::string_view text, size_t from) const;

 private:
  std::string delimiter_;
  std::boyer_moore_horspool_searcher<std::string::const_iterator> searcher_;
};

// Whether `position` in `text` starts a line: the start of the text or right
// after CR LF.
bool StartsLine(std::string_view text, size_t position);

}  // namespace corvane::cargane

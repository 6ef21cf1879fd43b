// SPDX-License-Identifier: Apache-2.0
// Makes a page's query text ready to send: refuses line breaks and NUL
// (one query must stay one line) and converts an internationalised domain
// name (UTF-8) to its ASCII form; other text goes out as it is.
#pragma once

#include <string>
#include <string_view>

namespace corvane::namewell {

struct QueryText {
  std::string text;     // what to send, without the line end
  std::string problem;  // why nothing may be sent; empty when the text is fine
};

// The query without leading and trailing spaces. A domain name (labels
// separated by dots, no blanks) holding non-ASCII characters is converted
// to ASCII (IDNA 2008 with the UTS 46 mapping); any other text is kept as
// given. On failure `problem` says why (CR, LF or NUL in the query, or a
// domain name that cannot be converted) and `text` is empty.
[[nodiscard]] QueryText PrepareQueryText(std::string_view query);

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
// Makes a page's query text ready to send: refuses line breaks and NUL
// (one query must stay one line) and converts an internationalised domain
// name (UTF-8) to its ASCII form; other text goes out as it is.
#pragma once

#include <string>
#include <string_view>

namespace corvane::namewell {

// The query without leading and trailing spaces, and without its line end.
// A domain name (labels separated by dots, no blanks) holding non-ASCII
// characters is converted to ASCII (IDNA 2008 with the UTS 46 mapping); any
// other text is kept as given. Throws Failure (5) saying why nothing may be
// sent: CR, LF or NUL in the query, or a domain name that cannot be
// converted.
[[nodiscard]] std::string PrepareQueryText(std::string_view query);

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
// Finds the e-mail addresses in free text (a whois contact block) and tells
// whether a text looks like an address.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::namewell {

// Every plausible address of `text`, in text order; empty when there is
// none. An address reaches at most 63 characters to either side of its "@".
std::vector<std::string> ExtractEmail(std::string_view text);

// True when `text` passes the plausibility check: at least 4 characters, a
// final label of two or three characters after a dot, an "@" with at least
// 4 characters after it. False otherwise; it never fails.
bool ValidateEmail(std::string_view text);

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
// The whois server of a top-level domain, from the table of well-known
// servers kept in whois-servers.txt and compiled into the library.
#pragma once

#include <string>
#include <string_view>

namespace corvane::namewell {

// The text of whois-servers.txt.
extern const std::string_view kWhoisServerTable;

// The server that `table` (text in the format of whois-servers.txt) lists
// for `name`'s top-level domain (after its last dot, case ignored); empty
// when the table lists none.
std::string FindServer(std::string_view table, std::string_view name);

// The same from the compiled-in table.
std::string ServerForName(std::string_view name);

}  // namespace corvane::namewell

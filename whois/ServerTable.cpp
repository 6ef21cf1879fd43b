// SPDX-License-Identifier: Apache-2.0
#include "whois/ServerTable.h"

#include "frame/Text.h"

namespace corvane::namewell {

std::string FindServer(std::string_view table, std::string_view name) {
  name = TrimOf(name, " .");
  std::string_view domain = name.substr(name.find_last_of('.') + 1);
  if (domain.empty()) return {};
  size_t start = 0;
  while (start < table.size()) {
    size_t end = table.find('\n', start);
    if (end == std::string_view::npos) end = table.size();
    std::string_view line = TrimOf(table.substr(start, end - start), " \t\r");
    start = end + 1;
    if (line.empty() || line.front() == '#') continue;
    size_t gap = line.find_first_of(" \t");
    if (gap == std::string_view::npos) continue;
    if (EqualsIgnoringCase(line.substr(0, gap), domain)) {
      return std::string(TrimOf(line.substr(gap), " \t"));
    }
  }
  return {};
}

std::string ServerForName(std::string_view name) {
  return FindServer(kWhoisServerTable, name);
}

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/NetworkQuery.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "frame/Text.h"
#include "platform/AddressScope.h"

namespace corvane::namewell {
namespace {

// Whether the text is an address of the family asked for.
bool IsAddress(const std::string& text, bool want_v6) {
  std::array<uint8_t, 16> bytes{};
  bool v6 = false;
  return platform::AddressBytes(text, bytes, v6) && v6 == want_v6;
}

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
}

enum class NetworkSlot { kRange, kName, kCountry, kAbuse };

struct NetworkKey {
  std::string_view key;
  NetworkSlot slot;
};

constexpr NetworkKey kNetworkKeys[] = {
    {"netrange", NetworkSlot::kRange},
    {"inetnum", NetworkSlot::kRange},
    {"inet6num", NetworkSlot::kRange},
    {"asnumber", NetworkSlot::kRange},
    {"aut-num", NetworkSlot::kRange},
    {"netname", NetworkSlot::kName},
    {"asname", NetworkSlot::kName},
    {"as-name", NetworkSlot::kName},
    {"country", NetworkSlot::kCountry},
    {"orgabuseemail", NetworkSlot::kAbuse},
    {"abuse-mailbox", NetworkSlot::kAbuse},
};

}  // namespace

NetworkQuery ClassifyQuery(std::string_view query) {
  NetworkQuery result;
  std::string text(TrimBlanks(query));
  std::string address = text.substr(0, text.find('/'));
  if (address.size() < text.size() &&
      !IsDigits(text.substr(address.size() + 1))) {
    return result;
  }
  if (IsAddress(address, false)) {
    result.kind = QueryKind::kIpv4;
  } else if (IsAddress(address, true)) {
    result.kind = QueryKind::kIpv6;
  } else if (text.size() > 2 && EqualsIgnoringCase(text.substr(0, 2), "as") &&
             IsDigits(text.substr(2)) && text.size() <= 12) {
    uint64_t number = 0;
    std::from_chars(text.data() + 2, text.data() + text.size(), number);
    if (number > UINT32_MAX) return result;
    result.kind = QueryKind::kAsn;
    result.number = static_cast<uint32_t>(number);
    result.text = std::to_string(number);
    return result;
  } else {
    return result;
  }
  result.text = LowerCase(text);
  return result;
}

std::string WhoisLineFor(std::string_view server, const NetworkQuery& query,
                         std::string_view text) {
  std::string_view host = server.substr(0, server.find(':'));
  if (query.kind == QueryKind::kName ||
      !EqualsIgnoringCase(host, kNetworkWhoisServer)) {
    return std::string(text);
  }
  return (query.kind == QueryKind::kAsn ? "a + " : "n + ") + query.text;
}

void ReadNetworkFields(std::string_view reply, WhoisRecord& record) {
  std::string range;
  std::string name;
  std::string country;
  std::string abuse;
  constexpr std::string_view kAbuseRemark = "% abuse contact for ";
  for (size_t start = 0; start < reply.size();) {
    size_t end = std::min(reply.find('\n', start), reply.size());
    std::string_view line = TrimOf(reply.substr(start, end - start), " \t\r");
    start = end + 1;
    if (line.size() > kAbuseRemark.size() &&
        EqualsIgnoringCase(line.substr(0, kAbuseRemark.size()), kAbuseRemark)) {
      // The address is the last quoted text of the remark.
      size_t close = line.rfind('\'');
      size_t open = close == 0 || close == std::string_view::npos
                        ? std::string_view::npos
                        : line.rfind('\'', close - 1);
      if (abuse.empty() && open != std::string_view::npos) {
        abuse = line.substr(open + 1, close - open - 1);
      }
      continue;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = TrimBlanks(line.substr(0, colon));
    std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (value.empty()) continue;
    for (const NetworkKey& known : kNetworkKeys) {
      if (!EqualsIgnoringCase(key, known.key)) continue;
      switch (known.slot) {
        case NetworkSlot::kRange:
          range = value;
          break;
        case NetworkSlot::kName:
          name = value;
          break;
        case NetworkSlot::kCountry:
          if (country.empty()) country = value;
          break;
        case NetworkSlot::kAbuse:
          if (abuse.empty()) abuse = value;
          break;
      }
    }
  }
  if (record.network_range.empty()) record.network_range = std::move(range);
  if (record.network_name.empty()) record.network_name = std::move(name);
  if (record.country.empty()) record.country = std::move(country);
  if (record.abuse_email.empty()) record.abuse_email = std::move(abuse);
}

}  // namespace corvane::namewell

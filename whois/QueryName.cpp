// SPDX-License-Identifier: Apache-2.0
#include "whois/QueryName.h"

#include <idn2.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "frame/Text.h"
#include "platform/Failure.h"

namespace corvane::namewell {
namespace {

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
}

[[noreturn]] void Refuse(std::string reason) {
  throw Failure(kInvalidCall, "", std::move(reason));
}

// Whether the query is written as a domain name: labels separated by dots
// (at least one dot), no blanks, and of the ASCII characters only letters,
// digits, hyphens and dots. Only such a query is converted; any other text
// (a company name with a blank, a word without a dot) is sent as it is.
bool IsDomainShaped(std::string_view name) {
  if (name.find('.') == std::string_view::npos) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x80 && !std::isalnum(byte) && c != '-' && c != '.';
  });
}

}  // namespace

std::string PrepareQueryText(std::string_view query) {
  if (query.find_first_of(std::string_view("\r\n\0", 3)) !=
      std::string_view::npos) {
    Refuse(
        "The query holds a line break or a NUL character; nothing was sent.");
  }
  std::string trimmed(TrimSpaces(query));
  if (IsAscii(trimmed) || !IsDomainShaped(trimmed)) return trimmed;
  char* converted = nullptr;
  int status = idn2_to_ascii_8z(
      trimmed.c_str(), &converted,
      IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL | IDN2_USE_STD3_ASCII_RULES);
  std::unique_ptr<char, decltype(&idn2_free)> owned(converted, &idn2_free);
  if (status != IDN2_OK) {
    Refuse("The query is not a valid internationalised domain name: " +
           std::string(idn2_strerror(status)));
  }
  return converted;
}

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/EmailAddresses.h"

#include <cstddef>

namespace corvane::namewell {
namespace {

// How far from its "@" an address may reach, on either side.
constexpr size_t kWindow = 63;

enum class CharacterKind { kAddress, kDelimiter, kBreaking };

CharacterKind KindOf(char c) {
  if (c == '_' || c == '-' || c == '.' || (c >= 'A' && c <= 'Z') ||
      (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
    return CharacterKind::kAddress;
  }
  switch (c) {
    case ',':
    case ' ':
    case '\n':
    case '\r':
    case '\t':
    case '\b':
    case '<':
    case '>':
      return CharacterKind::kDelimiter;
    default:
      return CharacterKind::kBreaking;
  }
}

// Where a scan away from the "@" ended.
struct ScanEnd {
  bool broken = false;  // a breaking character was met at `index`
  size_t index = 0;     // the address's outermost character, or the breaker
};

ScanEnd ScanLeft(std::string_view text, size_t at) {
  for (size_t distance = 1; distance <= kWindow && distance <= at; ++distance) {
    size_t index = at - distance;
    CharacterKind kind = KindOf(text[index]);
    if (kind == CharacterKind::kDelimiter) return {false, index + 1};
    if (kind == CharacterKind::kBreaking) return {true, index};
  }
  return {false, at >= kWindow ? at - kWindow : 0};
}

ScanEnd ScanRight(std::string_view text, size_t at) {
  for (size_t distance = 1; distance <= kWindow && at + distance < text.size();
       ++distance) {
    size_t index = at + distance;
    CharacterKind kind = KindOf(text[index]);
    if (kind == CharacterKind::kDelimiter) return {false, index - 1};
    if (kind == CharacterKind::kBreaking) return {true, index};
  }
  return {false, at + kWindow < text.size() ? at + kWindow : text.size() - 1};
}

}  // namespace

std::vector<std::string> ExtractEmail(std::string_view text) {
  std::vector<std::string> addresses;
  size_t search = 0;
  for (;;) {
    size_t at = text.find('@', search);
    if (at == std::string_view::npos) return addresses;
    ScanEnd left = ScanLeft(text, at);
    if (left.broken) {
      search = at + 1;
      continue;
    }
    ScanEnd right = ScanRight(text, at);
    if (right.broken) {
      search = right.index;
      continue;
    }
    std::string_view candidate =
        text.substr(left.index, right.index - left.index + 1);
    // The character after the candidate ended the scan; go on past it.
    search = right.index + 2;
    if (ValidateEmail(candidate)) addresses.emplace_back(candidate);
  }
}

bool ValidateEmail(std::string_view text) {
  size_t length = text.size();
  if (length < 4) return false;
  if (text[length - 4] != '.' && text[length - 3] != '.') return false;
  size_t at = text.find('@');
  if (at == std::string_view::npos) return false;
  return length - at - 1 >= 4;
}

}  // namespace corvane::namewell

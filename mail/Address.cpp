// SPDX-License-Identifier: Apache-2.0
#include "mail/Address.h"

#include <idn2.h>

#include <cctype>

#include "frame/Text.h"
#include "mail/HeaderText.h"

namespace corvane::penrill {
namespace {

bool IsAtomCharacter(unsigned char c) {
  static constexpr std::string_view kSpecials = "!#$%&'*+-/=?^_`{|}~";
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c > 127 ||
         kSpecials.find(static_cast<char>(c)) != std::string_view::npos;
}

bool IsDotString(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  char previous = 0;
  for (char c : text) {
    if (c == '.' ? previous == '.' : !IsAtomCharacter(c)) return false;
    previous = c;
  }
  return true;
}

bool IsQuotedString(std::string_view text) {
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
    return false;
  }
  text = text.substr(1, text.size() - 2);
  for (size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      if (++i == text.size()) return false;
      c = static_cast<unsigned char>(text[i]);
      if (c < 32 || c == 127) return false;
    } else if (c < 32 || c == 127 || c == '"') {
      return false;
    }
  }
  return true;
}

bool IsDomain(std::string_view domain) {
  if (domain.size() >= 2 && domain.front() == '[' && domain.back() == ']') {
    for (char c : domain.substr(1, domain.size() - 2)) {
      if (c < 33 || c > 126 || c == '[' || c == ']' || c == '\\') return false;
    }
    return domain.size() > 2;
  }
  if (domain.empty() || domain.size() > 255) return false;
  size_t start = 0;
  for (;;) {
    size_t end = domain.find('.', start);
    std::string_view label = domain.substr(start, end - start);
    if (label.empty() || label.size() > 63 || label.front() == '-' ||
        label.back() == '-') {
      return false;
    }
    for (char c : label) {
      auto byte = static_cast<unsigned char>(c);
      if (!(std::isalnum(byte) || c == '-' || byte > 127)) return false;
    }
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

bool IsMailboxAddress(std::string_view address) {
  size_t at = address.rfind('@');
  if (at == std::string_view::npos) return false;
  std::string_view local = address.substr(0, at);
  if (local.size() > 64 && !HasEightBit(local)) return false;
  return (IsDotString(local) || IsQuotedString(local)) &&
         IsDomain(address.substr(at + 1));
}

std::optional<std::string> AsciiAddress(std::string_view address) {
  if (!HasEightBit(address)) return std::string(address);
  size_t at = address.rfind('@');
  if (at == std::string_view::npos || HasEightBit(address.substr(0, at))) {
    return std::nullopt;
  }
  std::string domain(address.substr(at + 1));
  char* ascii = nullptr;
  if (idn2_to_ascii_8z(domain.c_str(), &ascii, IDN2_NONTRANSITIONAL) !=
      IDN2_OK) {
    return std::nullopt;
  }
  std::string converted = std::string(address.substr(0, at + 1)) + ascii;
  idn2_free(ascii);
  return converted;
}

std::string AsciiHeaderAddress(std::string_view entry) {
  if (!HasEightBit(entry)) return std::string(entry);
  size_t start = 0;
  size_t end = entry.size();
  size_t open = entry.rfind('<');
  if (open != std::string_view::npos &&
      entry.find('>', open) != std::string_view::npos) {
    start = open + 1;
    end = entry.find('>', open);
  }
  std::string_view address = TrimSpaces(entry.substr(start, end - start));
  start = static_cast<size_t>(address.data() - entry.data());
  end = start + address.size();
  auto ascii = AsciiAddress(address);
  if (!ascii) return std::string(entry);
  std::string converted(entry.substr(0, start));
  converted += *ascii;
  converted += entry.substr(end);
  return converted;
}

}  // namespace corvane::penrill

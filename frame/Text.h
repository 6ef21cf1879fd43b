// SPDX-License-Identifier: Apache-2.0
// Text helpers shared by the frame and the components. Text is bytes; case
// is folded for ASCII letters only.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

inline std::string UpperCase(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = UpperAscii(c);
  return upper;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Position of `needle` in `haystack` from `from`, ignoring case; npos when
// absent.
inline size_t FindIgnoringCase(std::string_view haystack,
                               std::string_view needle, size_t from = 0) {
  if (needle.size() > haystack.size()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    if (EqualsIgnoringCase(haystack.substr(i, needle.size()), needle)) {
      return i;
    }
  }
  return std::string_view::npos;
}

// The text without leading and trailing characters of `set`.
inline std::string_view TrimOf(std::string_view text, std::string_view set) {
  size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(set);
  return text.substr(first, last - first + 1);
}

// Without leading and trailing spaces (the trim of the components' texts).
inline std::string_view TrimSpaces(std::string_view text) {
  return TrimOf(text, " ");
}

// Without leading and trailing spaces and tabs (numbers written as text).
inline std::string_view TrimBlanks(std::string_view text) {
  return TrimOf(text, " \t");
}

inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// Appends `text` to `out`: each run of bytes that `keep` accepts in one
// piece, every other byte as `escape` writes it.
template <class Keep, class Escape>
void AppendEscaped(std::string& out, std::string_view text, Keep keep,
                   Escape escape) {
  for (size_t from = 0; from < text.size();) {
    size_t end = from;
    while (end < text.size() && keep(text[end])) ++end;
    out.append(text, from, end - from);
    if (end == text.size()) return;
    escape(out, text[end]);
    from = end + 1;
  }
}

// The text with the characters that HTML reads as markup (< > & and both
// quotes) written as character references, so that it can never add markup.
inline std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  AppendEscaped(
      escaped, text,
      [](char c) {
        return c != '<' && c != '>' && c != '&' && c != '"' && c != '\'';
      },
      [](std::string& out, char c) {
        switch (c) {
          case '<':
            out += "&lt;";
            break;
          case '>':
            out += "&gt;";
            break;
          case '&':
            out += "&amp;";
            break;
          case '"':
            out += "&quot;";
            break;
          default:
            out += "&#39;";
        }
      });
  return escaped;
}

// The text with every byte but ASCII letters, digits and the characters of
// `also_plain` written as "%" and two upper-case hex digits.
inline std::string PercentEncode(std::string_view text,
                                 std::string_view also_plain = "") {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                 (c >= '0' && c <= '9') ||
                 also_plain.find(c) != std::string_view::npos;
    if (plain) {
      encoded += c;
      continue;
    }
    auto byte = static_cast<unsigned char>(c);
    encoded += '%';
    encoded += kHex[byte >> 4];
    encoded += kHex[byte & 0x0F];
  }
  return encoded;
}

}  // namespace corvane

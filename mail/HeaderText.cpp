// SPDX-License-Identifier: Apache-2.0
#include "mail/HeaderText.h"

#include "frame/Text.h"
#include "mail/Tallowin.h"

namespace corvane::penrill {
namespace {

constexpr size_t kEncodedWordLimit = 75;
constexpr size_t kAddressLineStop = 1024;
constexpr size_t kFoldedLineLength = 78;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Folds one physical line; false when a piece stays too long.
bool FoldPhysicalLine(std::string_view line, std::string& out) {
  if (line.size() <= kMaxHeaderLine) {
    out += line;
    return true;
  }
  size_t piece = 0;  // length of the physical line written so far
  size_t at = 0;
  while (at < line.size()) {
    // The next word with the blanks before it; a fold goes before them.
    size_t end = at;
    while (end < line.size() && IsBlank(line[end])) ++end;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    std::string_view word = line.substr(at, end - at);
    if (piece > 0 && IsBlank(word.front()) &&
        piece + word.size() > kFoldedLineLength) {
      out += "\r\n";
      piece = 0;
    }
    out += word;
    piece += word.size();
    if (piece > kMaxHeaderLine) return false;
    at = end;
  }
  return true;
}

// Bytes of the UTF-8 sequence a lead byte starts; 1 for anything else.
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// The longest start of `text` of at most `limit` bytes that does not cut a
// UTF-8 character; at least one byte.
size_t WholeCharacters(std::string_view text, size_t limit, bool utf8) {
  if (text.size() <= limit) return text.size();
  if (!utf8) return limit;
  size_t end = 0;
  while (end < text.size()) {
    size_t next = end + SequenceLength(static_cast<unsigned char>(text[end]));
    if (next > limit) break;
    end = next;
  }
  return end > 0 ? end : limit;
}

}  // namespace

bool HasEightBit(std::string_view text) {
  // Blocks of 64 bytes ORed together without an early exit, which the
  // compiler turns into vector instructions; a message body is scanned
  // several times per send.
  constexpr size_t kBlock = 64;
  size_t at = 0;
  for (; at + kBlock <= text.size(); at += kBlock) {
    unsigned char any = 0;
    for (size_t i = 0; i < kBlock; ++i) {
      any |= static_cast<unsigned char>(text[at + i]);
    }
    if (any & 0x80u) return true;
  }
  for (; at < text.size(); ++at) {
    if (static_cast<unsigned char>(text[at]) > 127) return true;
  }
  return false;
}

bool IsUtf8(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) {
      ++at;
      continue;
    }
    size_t length = SequenceLength(lead);
    if (length == 1 || at + length > text.size()) return false;
    for (size_t i = 1; i < length; ++i) {
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
        return false;
      }
    }
    auto second = static_cast<unsigned char>(text[at + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
      return false;
    }
    at += length;
  }
  return true;
}

std::string HeaderCharset(std::string_view body_charset) {
  std::string_view charset = TrimSpaces(body_charset);
  if (charset.empty() || EqualsIgnoringCase(charset, "us-ascii")) {
    return "UTF-8";
  }
  return std::string(charset);
}

std::string EncodedWords(std::string_view text, std::string_view charset,
                         std::string_view separator) {
  const size_t overhead = charset.size() + 7;  // "=?" cs "?B?" ... "?="
  const size_t per_word = 3 * ((kEncodedWordLimit - overhead) / 4);
  const bool utf8 = EqualsIgnoringCase(charset, "utf-8");
  std::string words;
  while (!text.empty()) {
    size_t take = WholeCharacters(text, per_word, utf8);
    if (!words.empty()) words += separator;
    words += "=?";
    words += charset;
    words += "?B?";
    AppendBase64(text.substr(0, take), words);  // under 54 bytes: one line
    words += "?=";
    text.remove_prefix(take);
  }
  return words;
}

std::string HeaderValue(std::string_view text, std::string_view charset) {
  if (!HasEightBit(text)) return std::string(text);
  return EncodedWords(text, charset, "\r\n ");
}

std::string HeaderAddress(std::string_view entry, std::string_view charset) {
  if (!HasEightBit(entry)) return std::string(entry);
  size_t open = entry.rfind('<');
  if (open == std::string_view::npos ||
      entry.find('>', open) == std::string_view::npos) {
    return std::string(entry);
  }
  std::string_view display = TrimSpaces(entry.substr(0, open));
  if (!HasEightBit(display)) return std::string(entry);
  std::string name;
  if (display.size() >= 2 && display.front() == '"' && display.back() == '"') {
    display = display.substr(1, display.size() - 2);
    for (size_t i = 0; i < display.size(); ++i) {
      if (display[i] == '\\' && i + 1 < display.size()) ++i;
      name += display[i];
    }
  } else {
    name = display;
  }
  return EncodedWords(name, charset, " ") + " " +
         std::string(entry.substr(open));
}

std::string AddressLine(std::string_view name,
                        const std::vector<std::string>& entries) {
  std::string line(name);
  line += ": ";
  size_t logical = line.size();  // as if the line were never folded
  size_t line_start = 0;         // where the present physical line starts
  bool first = true;
  for (const std::string& entry : entries) {
    if (!first) {
      logical += 2;
      if (line.size() - line_start + 2 + entry.size() > kMaxHeaderLine) {
        line += ",\r\n ";
        line_start = line.size() - 1;
      } else {
        line += ", ";
      }
    }
    line += entry;
    logical += entry.size();
    first = false;
    if (logical > kAddressLineStop) break;
  }
  return line;
}

bool NeedsExtendedParameter(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte > 127 || byte < 0x20 || byte == 0x7F || c == '"' || c == '\\') {
      return true;
    }
  }
  return false;
}

std::string FoldAtBlanks(std::string_view line) {
  std::string folded;
  folded.reserve(line.size() + line.size() / 32);
  for (;;) {
    size_t end = line.find("\r\n");
    if (!FoldPhysicalLine(line.substr(0, end), folded)) return {};
    if (end == std::string_view::npos) return folded;
    folded += "\r\n";
    line.remove_prefix(end + 2);
  }
}

std::string UnstructuredLine(std::string_view name, std::string_view value,
                             std::string_view charset) {
  std::string line(name);
  line += ": ";
  line += HeaderValue(value, charset);
  std::string folded = FoldAtBlanks(line);
  if (!folded.empty()) return folded;
  return std::string(name) + ": " + EncodedWords(value, charset, "\r\n ");
}

std::string AsciiFallback(std::string_view text) {
  std::string plain(text);
  for (char& c : plain) {
    if (static_cast<unsigned char>(c) > 127 || c == '"' || c == '\\') c = '_';
  }
  return plain;
}

std::string ExtendedParameter(std::string_view name, std::string_view value,
                              std::string_view charset) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kAttributeCharacters =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
      "!#$&+-.^_`|~";
  std::string parameter(name);
  parameter += "*=";
  parameter += charset;
  parameter += "''";
  for (char c : value) {
    if (kAttributeCharacters.find(c) != std::string_view::npos) {
      parameter += c;
    } else {
      auto byte = static_cast<unsigned char>(c);
      parameter += '%';
      parameter += kHex[byte >> 4];
      parameter += kHex[byte & 15];
    }
  }
  return parameter;
}

}  // namespace corvane::penrill

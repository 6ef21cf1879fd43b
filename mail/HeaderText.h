// SPDX-License-Identifier: Apache-2.0
// Header text of a mail message that RFC 5322 lets carry only 7-bit bytes:
// 8-bit subjects and display names as RFC 2047 encoded-words, 8-bit
// parameter values (attachment names) as RFC 2231 extended parameters, and
// address lines folded so that no line passes the 998-character limit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::penrill {

// Longest header line the mail transfer allows, line end not counted.
inline constexpr size_t kMaxHeaderLine = 998;

// Whether the text holds a byte above 127. Never fails.
bool HasEightBit(std::string_view text);

// Whether the text is well-formed UTF-8. Never fails.
bool IsUtf8(std::string_view text);

// The charset that 8-bit header text is declared in: the body's charset
// when one other than us-ascii is set, else UTF-8. Never fails.
std::string HeaderCharset(std::string_view body_charset);

// The text as B-encoded words of at most 75 characters each, joined by
// `separator`; a UTF-8 character is never split between two words. Throws
// what Tallowin's binding throws (53, 453).
std::string EncodedWords(std::string_view text, std::string_view charset,
                         std::string_view separator);

// A header value (Subject): unchanged when it is pure ASCII, else encoded
// words folded onto lines of their own. Throws as EncodedWords does.
std::string HeaderValue(std::string_view text, std::string_view charset);

// One address entry ("Name <addr>", a quoted name, or a bare address):
// unchanged unless its display name holds 8-bit bytes, which then becomes
// encoded words before the unchanged "<addr>". Throws as EncodedWords does.
std::string HeaderAddress(std::string_view entry, std::string_view charset);

// `line` (a header line without its line end, perhaps folded already) with
// every physical line longer than kMaxHeaderLine folded before blanks so
// that the pieces are at most 78 characters where the blanks allow; lines
// within the limit are left exactly as they are. Empty when some piece
// still passes the limit (a run without blanks). Never fails.
std::string FoldAtBlanks(std::string_view line);

// "Name: value" for an unstructured header (Subject): as it is when no line
// passes kMaxHeaderLine, else folded before blanks, else (a run of text
// without blanks) the value as encoded words, one per line. Throws as
// EncodedWords does.
std::string UnstructuredLine(std::string_view name, std::string_view value,
                             std::string_view charset);

// "Name: " and the entries joined by ", ", adding no entry once the text is
// longer than 1024 characters; when the line would pass kMaxHeaderLine it
// is folded between entries (",", CR LF, a space). No line end at the end.
// Never fails.
std::string AddressLine(std::string_view name,
                        const std::vector<std::string>& entries);

// Whether a parameter value cannot be written as a quoted string as it is:
// it holds a byte above 127, '"', '\' or a control character. Never fails.
bool NeedsExtendedParameter(std::string_view text);

// `text` with every byte above 127, '"' and '\' replaced by '_': a name any
// reader can show when it cannot read the extended parameter. Never fails.
std::string AsciiFallback(std::string_view text);

// The RFC 2231 extended parameter `name*=charset''value`, the value
// percent-encoded. Never fails.
std::string ExtendedParameter(std::string_view name, std::string_view value,
                              std::string_view charset);

}  // namespace corvane::penrill

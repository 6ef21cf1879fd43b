// SPDX-License-Identifier: Apache-2.0
// Reads the parameters of MIME header fields (a multipart body's boundary in
// the content type, a part's `name` and `filename`): each is a token or a
// quoted string, and further parameters may follow after ";".
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane::cargane {

// The value of the first parameter `name` (matched as a whole parameter
// name, without regard to case) in a header field or a block of header
// lines; nullopt when there is none. A quoted value runs to the next double
// quote, taken as written (browsers send backslashes in names unescaped); an
// unquoted value runs to ";" or the end of the line, without surrounding
// blanks. Throws Failure 5 when a quoted value has no closing quote.
std::optional<std::string> FindHeaderParam(std::string_view header,
                                           std::string_view name);

// The first value of each of `names` (matched as FindHeaderParam matches a
// name), in one walk of the header that stops when every one is found or at
// a quoted value without its closing quote. Each value found goes to
// `values` at its name's index (`values` is as long as `names`). Returns
// false when the walk stopped at such a quote: FindHeaderParam throws there
// for each name not found before it. Cannot fail.
bool FindHeaderParams(std::string_view header,
                      std::span<const std::string_view> names,
                      std::span<std::optional<std::string_view>> values);

// The same value, or the empty text when the parameter is absent. Throws
// Failure 5 when a quoted value has no closing quote.
std::string GetHeaderParam(std::string_view header, std::string_view name);

}  // namespace corvane::cargane

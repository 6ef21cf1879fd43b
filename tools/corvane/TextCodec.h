// Base64 for the JSON values of the script host and a UTF-8 check.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::tool {

// Unbroken Base64 of the bytes.
std::string EncodeBase64(std::string_view bytes);

// The bytes of Base64 text (white space ignored); nullopt when the text is
// not Base64.
std::optional<std::string> DecodeBase64(std::string_view text);

// Whether the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace corvane::tool

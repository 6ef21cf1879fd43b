// SPDX-License-Identifier: Apache-2.0
// Base64 for the JSON values of the script host (encoded by Tallowin) and a
// UTF-8 check.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base64/TallowinBinding.h"

namespace corvane::tool {

// The program's binding to libtallowin.so, found beside the program first.
tallowin::Binding& Tallowin();

// Unbroken Base64 of the bytes, from Tallowin. Throws Failure 53 or 453 when
// the library or its export is missing, 6 for more than 2147483647 bytes,
// std::bad_alloc when Tallowin cannot allocate.
std::string EncodeBase64(std::string_view bytes);

// The bytes of Base64 text (white space ignored); nullopt when the text is
// not Base64.
std::optional<std::string> DecodeBase64(std::string_view text);

// Whether the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

}  // namespace corvane::tool

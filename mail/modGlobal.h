// SPDX-License-Identifier: Apache-2.0
// Path and Base64-size routines that the mail component shares between its
// message builder and its attachment parts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::penrill {

// The source of the failures that the mail component raises itself.
inline constexpr std::string_view kPenrillSource = "Penrill";

// The fixed multipart boundary of every message with attachments. A part
// whose content holds it goes out in Base64, so that it cannot end the part.
inline constexpr std::string_view kBoundary =
    "------------862EE14B9F0BCE464FC45E01";

// The text after the last '/' of `path`; the whole path when it has none;
// empty when it ends with '/'. Never fails.
std::string GetFileName(std::string_view path);

// The text after the last '.' of `path`; the whole path when it has none.
// Never fails.
std::string GetPathExtension(std::string_view path);

// The exact length of the line-broken Base64 text that Base64Encode writes
// for `count` input bytes: 72-character lines joined by CR LF; 0 for a
// count of 0 or less.
int64_t GetEncodedLength(int64_t count);

}  // namespace corvane::penrill

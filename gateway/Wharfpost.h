// SPDX-License-Identifier: Apache-2.0
// Wharfpost's main sequence: one run answers one request that posts an
// upload form, with a redirect that carries the outcome to a result page, or
// with a text page when it cannot go on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gateway/MultipartReader.h"

namespace corvane::wharfpost {

// Serves the request of the process's environment and standard input;
// returns the exit status (0: every outcome is an answer to the browser).
int RunWharfpost();

// The address of the result page: the referrer up to its last "/", then
// "/Wharfposted.asp"; a referrer without "/" or holding a control
// character (which would add lines to the answer) gives "/Wharfposted.asp".
std::string ResultPage(std::string_view referrer);

// The longest redirect address that form fields are added to: a field that
// would make the address longer, and every field after it, is left out (the
// file entries are always there). Web servers refuse longer header lines.
inline constexpr size_t kLongestAddress = 8000;

// The redirect address: the result page, ErrorCode, filenum, Du while a
// quota is in force, then fnN and flN of each stored file and each form
// field, all URL-encoded, the fields within kLongestAddress.
std::string RedirectAddress(std::string_view result_page, int16_t code,
                            const UploadState& state);

// Every character but A-Z, a-z and 0-9 as "%" and two upper-case hex digits.
std::string UrlEncode(std::string_view text);

}  // namespace corvane::wharfpost

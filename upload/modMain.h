// SPDX-License-Identifier: Apache-2.0
// Path, directory and form-text routines shared by the upload component and
// the upload gateway program. Each catches its own failures and answers with
// a fixed value instead; none keeps state between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cargane {

// The longest name the extension and file-name scans look at; a longer one
// gives the empty text.
inline constexpr size_t kLongestScannedName = 32767;

// Appends "/" unless the path ends with one (an empty path becomes "/"); the
// caller's variable receives the result, which is also returned. Cannot fail.
std::string AddBackslash(std::string& path);

// Makes sure every directory level of `path` exists, creating the missing
// ones. The caller's variable receives the path with a trailing "/". Returns
// that path, or the empty text when any test or creation failed.
std::string CreateFullPath(std::string& path);

// Total bytes of the files directly inside a directory (hidden ones
// included, subdirectories not descended into); -1 when the directory does
// not exist, a file vanishes while measured, or the total exceeds 2147483647.
int32_t GetDirectorySize(std::string path);

// The same total in 64 bits for quota arithmetic; files that vanish while
// measured count as 0. nullopt when the directory does not exist.
std::optional<int64_t> DirectoryBytes(std::string path);

// The text after the last "." of the name (the scan does not stop at a
// "/"); empty when there is no dot or the name is longer than 32767.
std::string GetFileExtension(std::string_view name);

// The decoded value of the field `name` in form-encoded `data` ("+" becomes
// a space, then %XX escapes are decoded); the name is found without regard
// to case, anywhere in the data. Empty when absent or on any failure.
std::string GetFieldValue(std::string_view name, std::string_view data);

// Replaces every occurrence of `search` from left to right; a replacement of
// "HEX" (any case) turns the occurrence and the two characters after it into
// the character with that hexadecimal code. Empty text on failure (an
// escape cut short, an empty search text).
std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement);

}  // namespace corvane::cargane

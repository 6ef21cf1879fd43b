// SPDX-License-Identifier: Apache-2.0
// The rules that decide under which name an uploaded file is stored and
// whether it is accepted: name vetting, directory stripping, the extension
// list, and the safety test that keeps stored files inside the directory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cargane {

// Strips one pair of enclosing double quotes, then one pair of single
// quotes (the caller's variable receives the stripped text). Returns the
// name, or the empty text when it holds one of " : \ / * < > |.
std::string CheckFileName(std::string& sFileName);

// The part after the last "\" or "/" (both separate directories in names
// that browsers send); the whole text without one; empty when the text ends
// with a separator or is longer than 32767 characters.
std::string ExtractFileName(std::string_view PathName);

// Whether the extension list lets a file of this browser-given name in: an
// empty extension is allowed exactly when `reject_empty_extension` is false;
// otherwise an entry "*" or one equal to the lower-cased extension allows
// it. An empty list allows nothing.
bool ExtensionAllowed(std::string_view client_name,
                      const std::vector<std::string>& extension_list,
                      bool reject_empty_extension);

// The name a file is stored under: the page's override when CheckFileName
// accepts it and `extension_allowed` lets its extension in, else the
// browser's name (already cut by ExtractFileName). Cannot fail.
std::string StoredFileName(
    const std::string& client_name, std::string override_name,
    const std::function<bool(std::string_view)>& extension_allowed);

// Whether a file of `length` bytes is within the per-file limit; a limit of
// 0 or less holds nothing back.
bool WithinFileLimit(int64_t length, int32_t max_file_bytes);

// Whether a name can be used as a file inside the upload directory: not
// empty, not "." or "..", and free of "/", "\" and control characters.
bool IsSafeStoredName(std::string_view name);

}  // namespace corvane::cargane

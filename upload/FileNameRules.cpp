// SPDX-License-Identifier: Apache-2.0
#include "upload/FileNameRules.h"

#include <algorithm>

#include "frame/Text.h"
#include "upload/modMain.h"

namespace corvane::cargane {
namespace {

constexpr std::string_view kRefusedCharacters = "\":\\/*<>|";

void StripEnclosing(std::string& text, char quote) {
  if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
    text = text.substr(1, text.size() - 2);
  }
}

bool IsControlCharacter(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

std::string CheckFileName(std::string& sFileName) {
  StripEnclosing(sFileName, '"');
  StripEnclosing(sFileName, '\'');
  if (sFileName.find_first_of(kRefusedCharacters) != std::string::npos) {
    return {};
  }
  return sFileName;
}

std::string ExtractFileName(std::string_view PathName) {
  if (PathName.size() > kLongestScannedName) return {};
  size_t separator = PathName.find_last_of("\\/");
  if (separator == std::string_view::npos) return std::string(PathName);
  return std::string(PathName.substr(separator + 1));
}

bool ExtensionAllowed(std::string_view client_name,
                      const std::vector<std::string>& extension_list,
                      bool reject_empty_extension) {
  std::string extension = GetFileExtension(client_name);
  if (extension.empty()) return !reject_empty_extension;
  std::string lower = LowerCase(extension);
  return std::any_of(
      extension_list.begin(), extension_list.end(),
      [&](const std::string& entry) { return entry == "*" || entry == lower; });
}

std::string StoredFileName(
    const std::string& client_name, std::string override_name,
    const std::function<bool(std::string_view)>& extension_allowed) {
  std::string checked = CheckFileName(override_name);
  // An override must not bring in an extension that the list refuses.
  if (checked.empty() || !extension_allowed(checked)) return client_name;
  return checked;
}

bool WithinFileLimit(int64_t length, int32_t max_file_bytes) {
  return max_file_bytes <= 0 || length <= max_file_bytes;
}

bool IsSafeStoredName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    return c == '/' || c == '\\' || IsControlCharacter(c);
  });
}

}  // namespace corvane::cargane

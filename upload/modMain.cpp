// SPDX-License-Identifier: Apache-2.0
#include "upload/modMain.h"

#include <limits>

#include "frame/Text.h"
#include "platform/FileSystem.h"

namespace corvane::cargane {
namespace {

using platform::Files;

constexpr char kSeparator = '/';

// A path (ending with "/") exists as a directory when listing it yields at
// least one entry; an existing, readable directory always lists its "."
// entry, so the listing asks for that one alone and measures nothing else.
bool DirectoryExists(const std::string& path) {
  return !Files().Find(path + ".").empty();
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The two characters read as a hexadecimal number; reading stops at the
// first character that is not a digit, and no digit gives 0.
char HexCharacter(char high, char low) {
  int value = 0;
  for (char c : {high, low}) {
    int digit = HexDigitValue(c);
    if (digit < 0) break;
    value = value * 16 + digit;
  }
  return static_cast<char>(value);
}

struct DirectoryTotal {
  int64_t bytes = 0;
  bool vanished = false;  // a listed file could not be measured
};

std::optional<DirectoryTotal> SumDirectory(std::string path) {
  AddBackslash(path);
  if (!DirectoryExists(path)) return std::nullopt;
  DirectoryTotal total;
  for (const auto& entry : Files().Find(path + "*.*")) {
    if (entry.attributes & platform::kDirectory) continue;
    if (entry.name == "." || entry.name == "..") continue;
    std::optional<platform::FileInfo> info;
    try {
      info = Files().Stat(path + entry.name);
    } catch (...) {
      // A file that cannot be read counts nothing toward the total, as one
      // that vanished between the listing and the look.
    }
    if (info) {
      total.bytes += static_cast<int64_t>(info->size);
    } else {
      total.vanished = true;
    }
  }
  return total;
}

}  // namespace

std::string AddBackslash(std::string& path) {
  if (path.empty() || path.back() != kSeparator) path += kSeparator;
  return path;
}

std::string CreateFullPath(std::string& path) {
  AddBackslash(path);
  bool failed = false;
  try {
    if (DirectoryExists(path)) return path;
  } catch (...) {
    failed = true;
  }
  for (size_t slash = path.find(kSeparator); slash != std::string::npos;
       slash = path.find(kSeparator, slash + 1)) {
    std::string level = path.substr(0, slash + 1);
    try {
      if (!DirectoryExists(level)) Files().CreateDirectory(level);
    } catch (...) {
      failed = true;
    }
  }
  return failed ? std::string() : path;
}

int32_t GetDirectorySize(std::string path) {
  try {
    auto total = SumDirectory(std::move(path));
    if (!total || total->vanished ||
        total->bytes > std::numeric_limits<int32_t>::max()) {
      return -1;
    }
    return static_cast<int32_t>(total->bytes);
  } catch (...) {
    return -1;
  }
}

std::optional<int64_t> DirectoryBytes(std::string path) {
  try {
    auto total = SumDirectory(std::move(path));
    if (!total) return std::nullopt;
    return total->bytes;
  } catch (...) {
    return std::nullopt;
  }
}

std::string GetFileExtension(std::string_view name) {
  if (name.size() > kLongestScannedName) return {};
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return std::string(name.substr(dot + 1));
}

std::string GetFieldValue(std::string_view name, std::string_view data) {
  try {
    std::string key = std::string(name) + "=";
    size_t match = FindIgnoringCase(data, key);
    if (match == std::string_view::npos) return {};
    size_t equals = data.find('=', match);
    size_t start = equals + 1;
    size_t end = data.find('&', equals);
    if (end == std::string_view::npos) end = data.size();
    std::string value(data.substr(start, end - start));
    if (value.empty()) return {};
    if (value.find('+') != std::string::npos) {
      value = ReplaceText(value, "+", " ");
    }
    if (value.find('%') != std::string::npos) {
      value = ReplaceText(value, "%", "HEX");
    }
    return value;
  } catch (...) {
    return {};
  }
}

std::string ReplaceText(std::string_view text, std::string_view search,
                        std::string_view replacement) {
  if (search.empty()) return {};
  bool hex = EqualsIgnoringCase(replacement, "HEX");
  try {
    std::string result;
    size_t from = 0;
    for (;;) {
      size_t found = text.find(search, from);
      if (found == std::string_view::npos) break;
      result.append(text.substr(from, found - from));
      size_t after = found + search.size();
      if (hex) {
        if (text.size() - after < 2) return {};
        result += HexCharacter(text[after], text[after + 1]);
        from = after + 2;
      } else {
        result.append(replacement);
        from = after;
      }
    }
    result.append(text.substr(from));
    return result;
  } catch (...) {
    return {};
  }
}

}  // namespace corvane::cargane

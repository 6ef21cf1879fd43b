// SPDX-License-Identifier: Apache-2.0
#include "gateway/modCGI.h"

#include <ini.h>

#include <charconv>
#include <cmath>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/SystemFolders.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

constexpr std::string_view kSection = "Wharfpost";
// Values of the original keys keep at most this many characters.
constexpr size_t kLongestIniValue = 127;
constexpr size_t kLongestEnvValue = 16383;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(std::string_view text, size_t at) {
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at;
}

// Every key of section [Wharfpost] as the file gives it first; names are
// compared without regard to case.
struct IniValues {
  std::vector<std::pair<std::string, std::string>> entries;

  std::optional<std::string> Find(std::string_view key) const {
    for (const auto& [name, value] : entries) {
      if (EqualsIgnoringCase(name, key)) return value;
    }
    return std::nullopt;
  }
  std::string Get(std::string_view key, std::string_view fallback) const {
    std::string value = Find(key).value_or(std::string(fallback));
    if (value.size() > kLongestIniValue) value.resize(kLongestIniValue);
    return value;
  }
};

int CollectValue(void* user, const char* section, const char* name,
                 const char* value) {
  auto& values = *static_cast<IniValues*>(user);
  if (EqualsIgnoringCase(section, kSection) && !values.Find(name)) {
    values.entries.emplace_back(name, value);
  }
  return 1;
}

// A positive whole number of bytes; nullopt for anything else.
std::optional<int64_t> PositiveByteCount(std::string_view text) {
  std::string trimmed = TrimBlanks(text);
  int64_t count = 0;
  auto [end, error] =
      std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), count);
  if (error != std::errc() || end != trimmed.data() + trimmed.size() ||
      count <= 0) {
    return std::nullopt;
  }
  return count;
}

}  // namespace

std::string IniFilePath() {
  std::string named = GetEnvValue(std::string(kIniVariable));
  if (!named.empty()) return named;
  std::string program = platform::ProgramPath();
  if (program.empty()) return {};
  std::string directory = platform::DirectoryOf(program);
  std::string name = program.substr(directory.size());
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  if (platform::IsInstalledProgram(directory)) {
    return platform::SystemFolderPath(platform::SystemFolder::kConfiguration) +
           name + ".ini";
  }
  return directory + name + ".ini";
}

std::optional<Settings> ReadIniSettings(const std::string& ini_path) {
  if (!platform::FileMatchExists(ini_path)) return std::nullopt;
  IniValues values;
  // A line the reader cannot make sense of is passed over, as the keys
  // around it still count.
  if (ini_parse(ini_path.c_str(), CollectValue, &values) < 0) {
    return std::nullopt;
  }
  Settings settings;
  settings.cookie_name = values.Get("CookieName", "");
  settings.cookie_value = values.Get("CookieValue", "");
  settings.cookie_required =
      UpperCase(TrimBlanks(values.Get("CookieRequired", ""))) == "YES";
  if (settings.cookie_required &&
      (settings.cookie_name.empty() || settings.cookie_value.empty())) {
    return std::nullopt;
  }
  settings.allowed_extensions =
      ParseFileTypes(values.Get("FileTypesAllowed", "*.*"));
  settings.upload_root = TrimBlanks(values.Find("UploadRoot").value_or(""));
  if (auto quota = values.Find("DiskQuota")) {
    settings.disk_quota = PositiveByteCount(*quota);
    if (!settings.disk_quota) return std::nullopt;
  }
  return settings;
}

std::vector<std::string> ParseFileTypes(std::string_view text) {
  if (text.empty()) text = "*.*";
  std::vector<std::string> list;
  for (;;) {
    size_t comma = text.find(',');
    std::string piece = LowerCase(TrimBlanks(text.substr(0, comma)));
    size_t dot = piece.rfind('.');
    if (dot != std::string::npos) piece.erase(0, dot + 1);
    list.push_back(std::move(piece));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return list;
}

std::string GetEnvValue(const std::string& name) {
  std::string value = platform::EnvironmentVariable(name).value_or("");
  // A value cut short could name another directory or file: refused whole.
  if (value.size() > kLongestEnvValue) return {};
  return value;
}

std::string GetCookieValue(std::string_view name) {
  try {
    std::string cookies = GetEnvValue("HTTP_COOKIE");
    size_t match = FindIgnoringCase(cookies, std::string(name) + "=");
    if (match == std::string::npos) return {};
    size_t start = cookies.find('=', match) + 1;
    size_t end = cookies.find(';', start);
    if (end == std::string::npos) end = cookies.size();
    std::string value = cookies.substr(start, end - start);
    if (value.find('+') != std::string::npos) {
      value = cargane::ReplaceText(value, "+", " ");
    }
    if (value.find('%') != std::string::npos) {
      value = cargane::ReplaceText(value, "%", "HEX");
    }
    return value;
  } catch (...) {
    return {};
  }
}

void WriteStdoutLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  platform::WriteStandardOutput(line);
}

std::string TrimBlanks(std::string_view text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

double LeadingNumber(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) {
    ++start;
  }
  bool negative = start < text.size() && text[start] == '-';
  if (start < text.size() && (text[start] == '-' || text[start] == '+')) {
    ++start;
  }
  size_t end = SkipDigits(text, start);
  if (end < text.size() && text[end] == '.') end = SkipDigits(text, end + 1);
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    size_t exponent = end + 1;
    if (exponent < text.size() &&
        (text[exponent] == '-' || text[exponent] == '+')) {
      ++exponent;
    }
    size_t exponent_end = SkipDigits(text, exponent);
    if (exponent_end > exponent) end = exponent_end;
  }
  double value = 0;
  auto result = std::from_chars(text.data() + start, text.data() + end, value);
  if (result.ec != std::errc()) return 0;
  return negative ? -value : value;
}

}  // namespace corvane::wharfpost

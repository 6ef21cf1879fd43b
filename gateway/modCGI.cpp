// SPDX-License-Identifier: Apache-2.0
#include "gateway/modCGI.h"

#include <ini.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

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
// A settings file is a few lines; a longer one is refused.
constexpr uint64_t kLongestIniFile = 1 << 20;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(std::string_view text, size_t at) {
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at;
}

// The .ini file's text, handed to inih line by line. inih finds sections,
// comments and key names; the value is read here from the line inih is
// looking at, as a private-profile read gives it: all of the line after "="
// (inih would cut it at " ;" and keep its quotes).
struct ProfileLines {
  std::string_view text;
  size_t next = 0;
  // The line inih was handed last, without its line break.
  std::string_view line;
};

char* NextLine(char* buffer, int size, void* stream) {
  auto& lines = *static_cast<ProfileLines*>(stream);
  if (lines.next >= lines.text.size() || size < 3) return nullptr;
  size_t end = lines.text.find('\n', lines.next);
  if (end == std::string_view::npos) end = lines.text.size();
  std::string_view line = lines.text.substr(lines.next, end - lines.next);
  lines.next = end + 1;
  if (line.ends_with('\r')) line.remove_suffix(1);
  // Leading blanks never make a line continue the key before it, as they
  // would for inih.
  line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
  lines.line = line;
  // A line longer than inih's buffer is handed over cut: the rest must not
  // read as a line of its own.
  size_t count = std::min(line.size(), static_cast<size_t>(size) - 2);
  std::memcpy(buffer, line.data(), count);
  buffer[count] = '\n';
  buffer[count + 1] = '\0';
  return buffer;
}

// A value as a private-profile read gives it: trimmed, and without the
// double quotes around it.
std::string ProfileValue(std::string_view text) {
  text = TrimOf(text, " \t");
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

// Every key of section [Wharfpost] as the file gives it first; names are
// compared without regard to case.
struct IniValues {
  const ProfileLines* lines = nullptr;
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
                 const char* /*value*/) {
  auto& values = *static_cast<IniValues*>(user);
  std::string_view line = values.lines->line;
  size_t equals = line.find('=');
  // A key line is "name=value" (inih also reads ":" as "=").
  if (equals == std::string_view::npos ||
      TrimOf(line.substr(0, equals), " \t") != name) {
    return 1;
  }
  if (EqualsIgnoringCase(section, kSection) && !values.Find(name)) {
    values.entries.emplace_back(name, ProfileValue(line.substr(equals + 1)));
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

Settings ReadIniSettings(const std::string& ini_path) {
  if (!platform::FileMatchExists(ini_path)) {
    Failure missing = StandardFailure(kFileNotFound);
    missing.description += ": " + ini_path;
    throw missing;
  }
  std::string text =
      platform::Files().ReadRegularFile(ini_path, kLongestIniFile);
  ProfileLines lines;
  lines.text = text;
  IniValues values;
  values.lines = &lines;
  // A line the reader cannot make sense of is passed over, as the keys
  // around it still count.
  ini_parse_stream(NextLine, &lines, CollectValue, &values);
  Settings settings;
  settings.cookie_name = values.Get("CookieName", "");
  settings.cookie_value = values.Get("CookieValue", "");
  settings.cookie_required =
      UpperCase(TrimBlanks(values.Get("CookieRequired", ""))) == "YES";
  if (settings.cookie_required &&
      (settings.cookie_name.empty() || settings.cookie_value.empty())) {
    throw Failure(kInvalidFileFormat, "",
                  "CookieRequired is yes without a CookieName and a "
                  "CookieValue");
  }
  settings.allowed_extensions =
      ParseFileTypes(values.Get("FileTypesAllowed", "*.*"));
  settings.upload_root = TrimBlanks(values.Find("UploadRoot").value_or(""));
  if (auto quota = values.Find("DiskQuota")) {
    settings.disk_quota = PositiveByteCount(*quota);
    if (!settings.disk_quota) {
      throw Failure(kInvalidFileFormat, "",
                    "DiskQuota is not a positive number of bytes");
    }
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

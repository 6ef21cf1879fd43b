// SPDX-License-Identifier: Apache-2.0
// Wharfpost's configuration (the .ini file beside the program) and request
// context (the gateway environment variables and the request's cookies).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::wharfpost {

// What the administrator fixes in section [Wharfpost] of the .ini file.
struct Settings {
  std::string cookie_name;
  std::string cookie_value;
  bool cookie_required = false;
  // Lower-case extensions without their dot; "*" allows every extension.
  std::vector<std::string> allowed_extensions;
  // The directory that every upload stays inside; empty when not set.
  std::string upload_root;
  // The most bytes an upload directory may hold, whatever the cookie says.
  std::optional<int64_t> disk_quota;
};

// The environment variable through which a web server names the .ini file
// (Apache's SetEnv, lighttpd's setenv.add-environment); a client cannot set
// it, since the request's headers reach a CGI program as HTTP_ variables.
inline constexpr std::string_view kIniVariable = "WHARFPOST_INI";

// The .ini file of the running program: the file $WHARFPOST_INI names;
// else, for the installed program, the one of its name in /etc/corvane/;
// else the one beside the program (its directory, its base name up to the
// last "." and ".ini"), as for a copy in a CGI folder or in a build tree.
// Empty when the program's path cannot be read.
std::string IniFilePath();

// Reads the settings from `ini_path`. Throws Failure saying why when the
// file is missing or cannot be read, the cookie is required without a name
// or value, or DiskQuota is not a positive whole number.
Settings ReadIniSettings(const std::string& ini_path);

// The allowed-extension list of a FileTypesAllowed text such as
// "*.GIF, *.jpg,txt" (gif, jpg, txt); an empty text allows every extension.
// Cannot fail.
std::vector<std::string> ParseFileTypes(std::string_view text);

// An environment variable; empty when it is unset or longer than 16383
// characters. Cannot fail.
std::string GetEnvValue(const std::string& name);

// The decoded value of the cookie `name` in HTTP_COOKIE (the name is found
// without regard to case, anywhere; "+" reads as a blank, %XX is decoded);
// empty when absent or undecodable. Cannot fail.
std::string GetCookieValue(std::string_view name);

// Writes the text and CR LF to standard output in one write; throws Failure
// when standard output cannot be written.
void WriteStdoutLine(std::string_view text);

// The text without leading and trailing blanks. Cannot fail.
std::string TrimBlanks(std::string_view text);

// The leading number of a text (blanks, a sign, digits, a fraction and an
// exponent), 0 when it has none. Cannot fail.
double LeadingNumber(std::string_view text);

}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "gateway/Wharfpost.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "frame/Text.h"
#include "gateway/UploadRoot.h"
#include "gateway/modCGI.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "upload/GetHeaderParam.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

constexpr std::string_view kResultPageName = "Wharfposted.asp";
constexpr std::string_view kTextPageHeader = "Content-type: text/html\r\n";

// A note for the web server's error log, where administrators look.
void LogNote(const std::string& note) {
  std::fprintf(stderr, "wharfpost: %s\n", note.c_str());
}

bool HoldsControlCharacter(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

void WriteConfigurationFailure(const std::string& ini_path) {
  WriteStdoutLine(kTextPageHeader);
  WriteStdoutLine("Read " + LowerCase(ini_path) + " failed.");
  WriteStdoutLine(
      "Section [Wharfpost] must be readable, name CookieName and CookieValue "
      "when CookieRequired is yes, give DiskQuota (when present) as a "
      "positive number of bytes, and set UploadRoot to an absolute "
      "directory: without UploadRoot every upload is refused with "
      "ErrorCode=-5.");
}

void WriteUnexpectedFailure(const Failure& failure) {
  WriteStdoutLine(kTextPageHeader);
  WriteStdoutLine("Unhandled Exception. " + EscapeHtml(failure.description) +
                  " " + std::to_string(failure.number));
}

// The quota in force: the cookie's, capped by DiskQuota; nullopt when
// neither sets one.
std::optional<double> QuotaInForce(const Settings& settings) {
  std::optional<double> quota;
  double requested = LeadingNumber(GetCookieValue("UserDiskQuota"));
  if (requested > 0) quota = requested;
  if (settings.disk_quota) {
    auto cap = static_cast<double>(*settings.disk_quota);
    quota = quota ? std::min(*quota, cap) : cap;
  }
  return quota;
}

// Bytes that may still be written into `directory`, rounded to the nearest
// whole byte (halves to even); throws Failure 6 beyond 64 bits.
int64_t RemainingQuota(double quota, const std::string& directory) {
  auto used =
      static_cast<double>(cargane::DirectoryBytes(directory).value_or(0));
  double remaining = std::nearbyint(quota - used);
  if (!(remaining > -9.2e18 && remaining < 9.2e18)) {
    throw StandardFailure(kOverflow);
  }
  return static_cast<int64_t>(remaining);
}

// The upload directory that the request's cookie names, kept inside
// UploadRoot; nullopt (with a note for the log) when it is refused.
std::optional<std::string> UploadDirectory(const Settings& settings,
                                           const std::string& requested) {
  if (settings.upload_root.empty()) {
    LogNote("UploadRoot is not set in the .ini file; every upload is refused.");
    return std::nullopt;
  }
  auto directory = ConfinedUploadDirectory(settings.upload_root, requested);
  if (!directory) {
    LogNote("refused the upload directory \"" + requested +
            "\": it lies outside UploadRoot " + settings.upload_root +
            ", or cannot be created there.");
  }
  return directory;
}

size_t ReadBodyFromStandardInput(char* buffer, size_t count) {
  return platform::ReadStandardInput(buffer, count);
}

// One request, up to the code of its redirect; nullopt when the request
// has no body and gets no answer. `state` keeps what was stored.
std::optional<int16_t> Upload(const Settings& settings, UploadState& state,
                              std::string& directory) {
  if (settings.cookie_required &&
      GetCookieValue(settings.cookie_name) != settings.cookie_value) {
    return kCookieRefused;
  }
  std::string requested = TrimBlanks(GetCookieValue("WharfpostToWhere"));
  if (requested.empty()) return kNoUploadDirectory;
  auto confined = UploadDirectory(settings, requested);
  if (!confined) return kDirectoryRefused;
  directory = *confined;
  if (auto quota = QuotaInForce(settings)) {
    state.remaining_quota = RemainingQuota(*quota, directory);
    if (*state.remaining_quota < 1) return kQuotaExceeded;
  }
  double content_length = LeadingNumber(GetEnvValue("CONTENT_LENGTH"));
  if (!(content_length > 0)) return std::nullopt;
  std::string content_type = GetEnvValue("CONTENT_TYPE");
  // The boundary is a token or a quoted string, as Cargane reads it.
  std::string boundary = cargane::GetHeaderParam(content_type, "boundary");
  if (boundary.empty()) {
    LogNote("the request's content type names no boundary.");
    return kBodyFailed;
  }
  UploadRequest request;
  request.boundary = "--" + boundary;
  request.upload_directory = directory;
  request.content_length = content_length < 9.2e18
                               ? static_cast<int64_t>(content_length)
                               : std::numeric_limits<int64_t>::max();
  request.query_string = GetEnvValue("QUERY_STRING");
  request.allowed_extensions = settings.allowed_extensions;
  int16_t code = ReadMultipartInput(request, ReadBodyFromStandardInput, state);
  if (!state.failure.empty()) LogNote("reading the body: " + state.failure);
  return code;
}

void RemoveStoredFiles(const std::string& directory, const UploadState& state) {
  for (const auto& file : state.uploaded_files) {
    try {
      platform::Files().Remove(directory + file.FileName);
    } catch (...) {
    }
  }
}

}  // namespace

int RunWharfpost() {
  std::string ini_path = IniFilePath();
  UploadState state;
  std::string directory;
  try {
    auto settings = ReadIniSettings(ini_path);
    if (!settings) {
      WriteConfigurationFailure(ini_path);
      return 0;
    }
    std::string result_page = ResultPage(GetEnvValue("HTTP_REFERER"));
    auto code = Upload(*settings, state, directory);
    if (!code) return 0;
    WriteStdoutLine("Location: " + RedirectAddress(result_page, *code, state));
    WriteStdoutLine("");
  } catch (...) {
    Failure failure = CurrentFailure("Wharfpost");
    RemoveStoredFiles(directory, state);
    try {
      WriteUnexpectedFailure(failure);
    } catch (...) {
    }
  }
  return 0;
}

std::string ResultPage(std::string_view referrer) {
  if (HoldsControlCharacter(referrer)) referrer = {};
  size_t slash = referrer.rfind('/');
  std::string page(slash == std::string_view::npos ? std::string_view()
                                                   : referrer.substr(0, slash));
  page += '/';
  page += kResultPageName;
  return page;
}

std::string RedirectAddress(std::string_view result_page, int16_t code,
                            const UploadState& state) {
  std::string address(result_page);
  address += "?ErrorCode=" + std::to_string(code);
  address += "&filenum=" + std::to_string(state.uploaded_files.size());
  if (state.remaining_quota) {
    address += "&Du=" + std::to_string(*state.remaining_quota);
  }
  size_t n = 0;
  for (const auto& file : state.uploaded_files) {
    std::string number = std::to_string(++n);
    address += "&fn" + number + "=" + UrlEncode(file.FileName);
    address += "&fl" + number + "=" + std::to_string(file.FileLen);
  }
  for (const auto& item : state.form_items) {
    address += "&" + UrlEncode(item.Name) + "=" + UrlEncode(item.Value);
  }
  return address;
}

std::string UrlEncode(std::string_view text) { return PercentEncode(text); }

}  // namespace corvane::wharfpost

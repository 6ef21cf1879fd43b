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

// The page is the one line that names the .ini file; what it must hold goes
// to the server's error log.
void WriteConfigurationFailure(const std::string& ini_path) {
  LogNote("reading " + ini_path +
          " failed: section [Wharfpost] must be readable, name CookieName "
          "and CookieValue when CookieRequired is yes, give DiskQuota (when "
          "present) as a positive number of bytes, and set UploadRoot to an "
          "absolute directory: without UploadRoot every upload is refused "
          "with ErrorCode=-5.");
  WriteStdoutLine(kTextPageHeader);
  WriteStdoutLine("Read " + LowerCase(ini_path) + " failed.");
}

void WriteUnexpectedFailure(const Failure& failure) {
  WriteStdoutLine(kTextPageHeader);
  WriteStdoutLine("Unhandled Exception. " + EscapeHtml(failure.description) +
                  " " + std::to_string(failure.number));
}

// The quota of the cookie UserDiskQuota; nullopt unless it is above 0.
std::optional<double> CookieQuota() {
  double requested = LeadingNumber(GetCookieValue("UserDiskQuota"));
  if (requested > 0) return requested;
  return std::nullopt;
}

// Bytes that may still be written: the cookie UserDiskQuota counts the
// upload directory, rounded to the nearest whole byte (halves to even);
// DiskQuota counts everything under UploadRoot. The smaller when both are
// set; nullopt when neither is. Throws Failure 6 beyond 64 bits.
std::optional<int64_t> RemainingQuota(const Settings& settings,
                                      const UploadPlace& place) {
  std::optional<int64_t> remaining;
  if (auto requested = CookieQuota()) {
    auto used =
        static_cast<double>(cargane::DirectoryBytes(place.Path()).value_or(0));
    double left = std::nearbyint(*requested - used);
    if (!(left > -9.2e18 && left < 9.2e18)) throw StandardFailure(kOverflow);
    remaining = static_cast<int64_t>(left);
  }
  if (settings.disk_quota) {
    int64_t left = *settings.disk_quota - TreeBytes(place.real_root);
    remaining = remaining ? std::min(*remaining, left) : left;
  }
  return remaining;
}

// Where the upload directory that the request's cookie names goes, kept
// inside UploadRoot; nullopt (with a note for the log) when it is refused.
std::optional<UploadPlace> UploadDirectory(const Settings& settings,
                                           const std::string& requested) {
  if (settings.upload_root.empty()) {
    LogNote("UploadRoot is not set in the .ini file; every upload is refused.");
    return std::nullopt;
  }
  auto place = PlanUploadDirectory(settings.upload_root, requested);
  if (!place) {
    LogNote("refused the upload directory \"" + requested +
            "\": it lies outside UploadRoot " + settings.upload_root +
            " or more than " + std::to_string(kDeepestUploadDirectory) +
            " levels below it.");
  }
  return place;
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
  auto place = UploadDirectory(settings, requested);
  if (!place) return kDirectoryRefused;
  // Under a quota one request at a time writes below the root, so that
  // what one measures is not spent by another meanwhile.
  std::optional<platform::FileLock> root_lock;
  if (settings.disk_quota || CookieQuota()) {
    root_lock.emplace(place->real_root, platform::FileLock::OnDirectory{});
  }
  state.remaining_quota = RemainingQuota(settings, *place);
  if (state.remaining_quota && *state.remaining_quota < 1) {
    return kQuotaExceeded;
  }
  std::string length_text = GetEnvValue("CONTENT_LENGTH");
  auto content_length = platform::ParseContentLength(length_text);
  if (!content_length) {
    LogNote("the request's CONTENT_LENGTH \"" + length_text +
            "\" is not a number of bytes.");
    return kBodyFailed;
  }
  if (*content_length == 0) return std::nullopt;
  std::string content_type = GetEnvValue("CONTENT_TYPE");
  // The boundary is a token or a quoted string, as Cargane reads it.
  std::string boundary = cargane::GetHeaderParam(content_type, "boundary");
  if (boundary.empty()) {
    LogNote("the request's content type names no boundary.");
    return kBodyFailed;
  }
  // Nothing is created before the checks above have passed.
  auto created = CreateUploadDirectory(*place);
  if (!created) {
    LogNote("the upload directory \"" + requested +
            "\" cannot be created under UploadRoot " + settings.upload_root +
            ".");
    return kDirectoryRefused;
  }
  directory = *created;
  UploadRequest request;
  request.boundary = "--" + boundary;
  request.upload_directory = directory;
  request.content_length = *content_length;
  request.query_string = GetEnvValue("QUERY_STRING");
  request.allowed_extensions = settings.allowed_extensions;
  // A longer value could never fit the answer; it is not held either.
  request.longest_field_value = kLongestAddress + 1;
  int16_t code = ReadMultipartInput(request, ReadBodyFromStandardInput, state);
  if (!state.failure.empty()) LogNote("reading the body: " + state.failure);
  return code;
}

void RemoveStoredFiles(const std::string& directory, const UploadState& state) {
  for (const auto& file : state.uploaded_files) {
    try {
      platform::Files().Remove(directory + file.FileName);
    } catch (...) {
      // The run has failed and says so; a stored file that cannot be
      // removed stays where the upload put it, inside the upload root.
    }
  }
}

}  // namespace

int RunWharfpost() {
  // A web server that stops reading the answer makes the write fail, which
  // takes the failure path below: the stored files are removed.
  platform::IgnoreBrokenPipe();
  std::string ini_path = IniFilePath();
  UploadState state;
  std::string directory;
  try {
    Settings settings;
    try {
      settings = ReadIniSettings(ini_path);
    } catch (const Failure&) {
      // The answer and the log note say what the file must hold.
      WriteConfigurationFailure(ini_path);
      return 0;
    }
    std::string result_page = ResultPage(GetEnvValue("HTTP_REFERER"));
    auto code = Upload(settings, state, directory);
    if (!code) return 0;
    WriteStdoutLine("Location: " + RedirectAddress(result_page, *code, state));
    WriteStdoutLine("");
  } catch (...) {
    Failure failure = CurrentFailure("Wharfpost");
    LogNote("the run failed, every stored file is removed: " +
            failure.description + " (" + std::to_string(failure.number) + ")");
    RemoveStoredFiles(directory, state);
    try {
      WriteUnexpectedFailure(failure);
    } catch (...) {
      // Standard output is gone: the log note above has the failure.
    }
  }
  return 0;
}

std::string ResultPage(std::string_view referrer) {
  if (HoldsControlCharacter(referrer)) referrer = {};
  size_t cut = referrer.rfind('/');
  // The cut never falls inside "scheme://host": an address without a path
  // keeps its host.
  size_t scheme_end = referrer.find("://");
  if (scheme_end != std::string_view::npos &&
      referrer.find_first_of("/?#") == scheme_end + 1) {
    size_t host_end = referrer.find_first_of("/?#", scheme_end + 3);
    if (host_end == std::string_view::npos) host_end = referrer.size();
    if (cut == std::string_view::npos || cut < host_end) cut = host_end;
  }
  std::string page(cut == std::string_view::npos ? std::string_view()
                                                 : referrer.substr(0, cut));
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
    std::string field =
        "&" + UrlEncode(item.Name) + "=" + UrlEncode(item.Value);
    // The fields that would pass the bound are left out, from the first
    // one that does not fit.
    if (address.size() + field.size() > kLongestAddress) break;
    address += field;
  }
  return address;
}

std::string UrlEncode(std::string_view text) { return PercentEncode(text); }

}  // namespace corvane::wharfpost

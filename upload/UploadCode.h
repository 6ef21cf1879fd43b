// SPDX-License-Identifier: Apache-2.0
// The result codes of an upload, as Cargane's `upload` returns them and as
// Wharfpost sends them in ErrorCode.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::cargane {

enum UploadCode : int16_t {
  kUploadDone = 1,
  kCookieRefused = -2,      // Wharfpost: the required cookie is missing
  kNoUploadDirectory = -3,  // Wharfpost: no upload directory is named
  kQuotaExceeded = -4,
  kPathNotCreated = -5,
  kExtensionRefused = -6,
  kUploadFailed = -7,
  kAccessFailed = -8,
  kNoBoundary = -9,  // Cargane: the content type names no boundary
  // Wharfpost's names for the same codes.
  kDirectoryRefused = kPathNotCreated,
  kFileRefused = kExtensionRefused,
  kBodyFailed = kUploadFailed,
  kFileAccessFailed = kAccessFailed,
};

// What a code says, in a few words for a result page; "an unknown code"
// for a number that is none of them.
constexpr std::string_view UploadCodeMeaning(int code) {
  switch (code) {
    case kUploadDone:
      return "every file stored";
    case kCookieRefused:
      return "the cookie check failed";
    case kNoUploadDirectory:
      return "no upload folder was named (WharfpostToWhere)";
    case kQuotaExceeded:
      return "the disk quota is used up";
    case kPathNotCreated:
      return "the folder lies outside the upload root or cannot be made";
    case kExtensionRefused:
      return "a file was refused for its extension or name";
    case kUploadFailed:
      return "the body was broken or cut short";
    case kAccessFailed:
      return "a file could not be written";
    case kNoBoundary:
      return "the request named no boundary";
    default:
      return "an unknown code";
  }
}

}  // namespace corvane::cargane

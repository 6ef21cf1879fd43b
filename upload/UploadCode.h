// SPDX-License-Identifier: Apache-2.0
// The result codes of an upload, as Cargane's `upload` returns them and as
// Wharfpost sends them in ErrorCode.
#pragma once

#include <cstdint>

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

}  // namespace corvane::cargane

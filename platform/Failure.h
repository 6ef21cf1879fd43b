// SPDX-License-Identifier: Apache-2.0
// The one exception type of the suite and the platform's error numbers.
// Platform code throws Failure with an empty source; the component that
// catches it fills in its own name before recording it. A failure that the
// system reported also keeps the system's own text for its errno value,
// beside (never inside) the component's description.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "platform/Export.h"

namespace corvane {

// Base of the components' own error numbers (hexadecimal 80040000).
inline constexpr int32_t kComponentErrorBase = -2147221504;

// Error numbers that the platform and the frame raise.
enum ErrorNumber : int32_t {
  kInvalidCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kErrorInLoadingDll = 48,
  kBadFileName = 52,
  kFileNotFound = 53,
  kDeviceIoError = 57,
  kFileAlreadyExists = 58,
  kDiskFull = 61,
  kTooManyFiles = 67,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
  kObjectRequired = 424,
  kInvalidFileFormat = 321,
  kCannotCreateObject = 429,
  kNoSuchMember = 438,
  kWrongArguments = 450,
  kDllFunctionNotFound = 453,
  kDuplicateKey = 457,
};

class CORVANE_API Failure : public std::exception {
 public:
  Failure(int32_t number, std::string source, std::string description)
      : number(number),
        source(std::move(source)),
        description(std::move(description)) {}
  const char* what() const noexcept override { return description.c_str(); }

  int32_t number;
  std::string source;
  std::string description;
  // The system's text for the errno value behind the failure ("Permission
  // denied"); empty for a failure that no errno value describes.
  std::string system_text;
};

// The standard text of a platform error number; "Application-defined or
// object-defined error" for a number without one.
CORVANE_API std::string StandardErrorText(int32_t number);

// A Failure with the standard text of `number` and an empty source.
CORVANE_API Failure StandardFailure(int32_t number);

// The error number for an errno value (5 for one without its own number).
CORVANE_API int32_t ErrorNumberFromErrno(int error);

// The system's text for an errno value ("Permission denied"), the same in
// every locale; empty for a value the system has no text for.
CORVANE_API std::string SystemErrorText(int error);

// A Failure for an errno value, with that value's system text; `detail` (a
// path, say) follows the standard text after ": " when it is not empty.
CORVANE_API Failure FailureFromErrno(int error, const std::string& detail = {});

// Turns whatever is being handled into a Failure: a Failure keeps its fields
// (an empty source becomes `source`), std::bad_alloc becomes 7 and any other
// fault 5. Call only inside a catch block.
CORVANE_API Failure CurrentFailure(const std::string& source);

}  // namespace corvane

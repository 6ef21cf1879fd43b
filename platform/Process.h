// SPDX-License-Identifier: Apache-2.0
// The process environment of programs that a web server starts per request:
// environment variables, standard input and standard output.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Descriptor.h"
#include "platform/Export.h"

namespace corvane::platform {

// An environment variable's value; nullopt when it is not set.
CORVANE_API std::optional<std::string> EnvironmentVariable(
    const std::string& name);

// Sets an environment variable of this process (and of the programs it
// starts); throws Failure when the name is empty or holds '='.
CORVANE_API void SetEnvironmentVariable(const std::string& name,
                                        const std::string& value);

// The request body's length that a CONTENT_LENGTH text gives: decimal
// digits, blanks around them allowed; 0 for an empty text. nullopt when the
// text is anything else (a sign, other characters, beyond 63 bits): the
// request is malformed.
CORVANE_API std::optional<int64_t> ParseContentLength(std::string_view text);

// ParseContentLength of the variable CONTENT_LENGTH (0 when it is unset).
CORVANE_API std::optional<int64_t> ContentLength();

// Reads up to `count` bytes of standard input (fewer at its end); throws
// Failure on a read error.
CORVANE_API std::string ReadStandardInput(size_t count);

// The same into the caller's buffer; returns the bytes read, 0 at the end.
[[nodiscard]] CORVANE_API size_t ReadStandardInput(char* buffer, size_t count);

// Writes all of `data` to standard output; throws Failure on a write error.
CORVANE_API void WriteStandardOutput(std::string_view data);

// The same to standard error. Data up to the system's pipe limit (4 KiB)
// goes in one write, so that it stays whole beside other threads' writes.
CORVANE_API void WriteStandardError(std::string_view data);

// Opens /dev/null on standard input, output or error where the process
// was started with it closed, so that no file or socket it opens later
// takes that number and receives what is meant for the stream. Cannot
// fail: a number that cannot be opened stays closed.
CORVANE_API void KeepStandardDescriptors();

// Makes a write to a pipe or socket whose reader has gone fail with EPIPE
// (a Failure of the write) instead of ending the process. Cannot fail.
CORVANE_API void IgnoreBrokenPipe();

// Makes a new directory that only this user may enter, named `prefix`
// and six random characters, in $TMPDIR (or /tmp); returns its path.
// Throws Failure when it cannot be made.
CORVANE_API std::string MakePrivateDirectory(std::string_view prefix);

}  // namespace corvane::platform

namespace corvane::platform {

// An exclusive advisory lock on a file, held for the object's life; the file
// is created when missing. Throws Failure when the file cannot be opened.
class CORVANE_API FileLock {
 public:
  explicit FileLock(const std::string& path);
  // The lock on an existing directory itself (nothing is created), which
  // every process writing under that directory takes. Throws Failure when
  // the directory cannot be opened.
  struct OnDirectory {};
  FileLock(const std::string& directory, OnDirectory);
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  Descriptor fd_;
};

}  // namespace corvane::platform

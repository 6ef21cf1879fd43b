// SPDX-License-Identifier: Apache-2.0
// The process environment of programs that a web server starts per request:
// environment variables, standard input and standard output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

// An environment variable's value; nullopt when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

// Sets an environment variable of this process (and of the programs it
// starts); throws Failure when the name is empty or holds '='.
void SetEnvironmentVariable(const std::string& name, const std::string& value);

// Reads up to `count` bytes of standard input (fewer at its end); throws
// Failure on a read error.
std::string ReadStandardInput(size_t count);

// The same into the caller's buffer; returns the bytes read, 0 at the end.
[[nodiscard]] size_t ReadStandardInput(char* buffer, size_t count);

// Writes all of `data` to standard output; throws Failure on a write error.
void WriteStandardOutput(std::string_view data);

}  // namespace corvane::platform

namespace corvane::platform {

// An exclusive advisory lock on a file, held for the object's life; the file
// is created when missing. Throws Failure when the file cannot be opened.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

}  // namespace corvane::platform

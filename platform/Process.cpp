// SPDX-License-Identifier: Apache-2.0
#include "platform/Process.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdlib>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Retry.h"

namespace corvane::platform {

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
    throw Failure(kInvalidCall, "corvane",
                  "cannot set the environment variable " + name);
  }
}

std::optional<int64_t> ParseContentLength(std::string_view text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return 0;
  size_t last = text.find_last_not_of(" \t");
  std::string_view digits = text.substr(first, last - first + 1);
  int64_t length = 0;
  auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), length);
  if (error != std::errc() || end != digits.data() + digits.size() ||
      digits.front() == '-') {
    return std::nullopt;
  }
  return length;
}

std::optional<int64_t> ContentLength() {
  return ParseContentLength(EnvironmentVariable("CONTENT_LENGTH").value_or(""));
}

std::string ReadStandardInput(size_t count) {
  // The buffer grows with what arrives (doubling from 64 KiB), so a count
  // that the input never delivers costs no memory.
  constexpr size_t kFirstPiece = 64 * 1024;
  std::string data;
  while (data.size() < count) {
    size_t have = data.size();
    size_t piece = std::min(count - have, std::max(kFirstPiece, have));
    data.resize(have + piece);
    size_t got = ReadStandardInput(data.data() + have, piece);
    data.resize(have + got);
    if (got < piece) break;  // the input ended
  }
  return data;
}

size_t ReadStandardInput(char* buffer, size_t count) {
  size_t have = 0;
  while (have < count) {
    ssize_t got = RetryOnInterrupt(
        [&] { return ::read(STDIN_FILENO, buffer + have, count - have); });
    if (got < 0) throw FailureFromErrno(errno);
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  return have;
}

namespace {

void WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t put =
        RetryOnInterrupt([&] { return ::write(fd, data.data(), data.size()); });
    if (put < 0) throw FailureFromErrno(errno);
    data.remove_prefix(static_cast<size_t>(put));
  }
}

}  // namespace

void WriteStandardOutput(std::string_view data) {
  WriteAll(STDOUT_FILENO, data);
}

void WriteStandardError(std::string_view data) {
  WriteAll(STDERR_FILENO, data);
}

void KeepStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number, which is this one: the lower ones are open.
    int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

namespace {

void LockExclusively(int fd) {
  RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX); });
}

}  // namespace

std::string MakePrivateDirectory(std::string_view prefix) {
  std::string folder = EnvironmentVariable("TMPDIR").value_or("");
  if (folder.empty()) folder = "/tmp";
  if (folder.back() != '/') folder += '/';
  std::string pattern = folder + std::string(prefix) + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw FailureFromErrno(errno, pattern);
  }
  return pattern;
}

FileLock::FileLock(const std::string& path)
    : fd_(::open(SystemPath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC,
                 0666)) {
  if (fd_.Get() < 0) throw FailureFromErrno(errno, path);
  LockExclusively(fd_.Get());
}

FileLock::FileLock(const std::string& directory, OnDirectory)
    : fd_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_.Get() < 0) throw FailureFromErrno(errno, directory);
  LockExclusively(fd_.Get());
}

}  // namespace corvane::platform

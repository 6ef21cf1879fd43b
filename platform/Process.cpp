// SPDX-License-Identifier: Apache-2.0
#include "platform/Process.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/Failure.h"

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
    ssize_t got = ::read(STDIN_FILENO, buffer + have, count - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw FailureFromErrno(errno);
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  return have;
}

void WriteStandardOutput(std::string_view data) {
  while (!data.empty()) {
    ssize_t put = ::write(STDOUT_FILENO, data.data(), data.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) throw FailureFromErrno(errno);
    data.remove_prefix(static_cast<size_t>(put));
  }
}

FileLock::FileLock(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
  if (fd_ < 0) throw FailureFromErrno(errno, path);
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

FileLock::~FileLock() { ::close(fd_); }

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// Runs a call that must end in a child process with a deadline, so that a
// call that hangs or spins fails its test instead of stopping the suite.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

namespace corvane::testing {

// The value `call` returns (0-255) in a child process; nullopt when it has
// not returned within `limit` (the child is then killed) or died.
template <class Call>
std::optional<int> ResultWithin(std::chrono::seconds limit, Call call) {
  pid_t child = ::fork();
  if (child == 0) {
    int result = 255;
    try {
      result = call();
    } catch (...) {
    }
    ::_exit(result);
  }
  if (child < 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!WIFEXITED(status)) return std::nullopt;
  return WEXITSTATUS(status);
}

}  // namespace corvane::testing

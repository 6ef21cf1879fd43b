// SPDX-License-Identifier: Apache-2.0
// The one retry of a system call that a signal interrupted before it did
// anything (EINTR), for the platform's own sources.
#pragma once

#include <cerrno>
#include <type_traits>

namespace corvane::platform {

// Calls `call` (a system call answering -1 and errno on failure) until it
// does not fail with EINTR, and returns its last result; errno is then that
// call's. A call that computes a time-out inside `call` waits no longer
// than it would have. Never throws unless `call` does.
template <class Call>
auto RetryOnInterrupt(Call&& call) -> std::invoke_result_t<Call&> {
  for (;;) {
    auto result = call();
    if (!(result == -1 && errno == EINTR)) return result;
  }
}

}  // namespace corvane::platform

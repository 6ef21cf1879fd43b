// SPDX-License-Identifier: Apache-2.0
#include "platform/Retry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace corvane::platform {
namespace {

// A system call that answers the scripted errno values (-1 each) before it
// succeeds with 7.
struct Scripted {
  std::vector<int> errors;
  int calls = 0;
  int operator()() {
    if (calls < static_cast<int>(errors.size())) {
      errno = errors[calls++];
      return -1;
    }
    ++calls;
    return 7;
  }
};

TEST(RetryOnInterrupt, RepeatsOnlyAnInterruptedCall) {
  Scripted interrupted{{EINTR, EINTR}};
  EXPECT_EQ(RetryOnInterrupt(interrupted), 7);
  EXPECT_EQ(interrupted.calls, 3);
  // Another failure is the answer at once, its errno kept.
  Scripted refused{{EINTR, EAGAIN}};
  EXPECT_EQ(RetryOnInterrupt(refused), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(refused.calls, 2);
}

}  // namespace
}  // namespace corvane::platform

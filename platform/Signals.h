// SPDX-License-Identifier: Apache-2.0
// Waiting for the signals that ask a server to stop (SIGINT, SIGTERM), in a
// thread of its own rather than in a handler.
#pragma once

#include "platform/Export.h"

namespace corvane::platform {

// Blocks SIGINT and SIGTERM in the calling thread and in every thread it
// starts afterwards; construct it before starting threads.
class CORVANE_API StopSignals {
 public:
  StopSignals();
  // Waits until one of the signals arrives; returns its number.
  int Wait();
};

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/Signals.h"

#include <pthread.h>
#include <signal.h>

namespace corvane::platform {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

StopSignals::StopSignals() {
  sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int StopSignals::Wait() {
  sigset_t set = StopSet();
  int number = 0;
  while (sigwait(&set, &number) != 0) {
  }
  return number;
}

}  // namespace corvane::platform

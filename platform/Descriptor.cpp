// SPDX-License-Identifier: Apache-2.0
#include "platform/Descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Failure.h"

namespace corvane::platform {

Descriptor::Descriptor(Descriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

Descriptor::~Descriptor() { Reset(); }

int Descriptor::Release() noexcept { return std::exchange(fd_, -1); }

void Descriptor::Reset(int fd) noexcept {
  int old = std::exchange(fd_, fd < 0 ? -1 : fd);
  // A close is never tried again after EINTR: on Linux the descriptor is
  // released whatever close answers, and another thread may have been given
  // the number meanwhile.
  if (old >= 0 && old != fd_) ::close(old);
}

bool Descriptor::Close() noexcept {
  int old = std::exchange(fd_, -1);
  return old < 0 || ::close(old) == 0;
}

Pipe OpenPipe(int flags) {
  int ends[2];
  if (::pipe2(ends, flags) != 0) throw FailureFromErrno(errno);
  return Pipe{Descriptor(ends[0]), Descriptor(ends[1])};
}

}  // namespace corvane::platform

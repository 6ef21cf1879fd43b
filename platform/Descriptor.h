// SPDX-License-Identifier: Apache-2.0
// The one owner of an open file descriptor in the platform layer: it closes
// the descriptor once, when its owner is done with it, and moves but never
// copies, so no descriptor is closed twice or left open.
#pragma once

#include "platform/Export.h"

namespace corvane::platform {

class CORVANE_API Descriptor {
 public:
  Descriptor() = default;
  // Owns `fd`; a negative value (a failed open) owns nothing.
  explicit Descriptor(int fd) noexcept : fd_(fd < 0 ? -1 : fd) {}
  Descriptor(Descriptor&& other) noexcept;
  // Closes what this one held, then takes what `other` held.
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();

  // The descriptor held; -1 when none is. Never fails.
  int Get() const { return fd_; }
  // Gives the descriptor up to the caller, who then closes it; -1 when none
  // was held. Never fails.
  int Release() noexcept;
  // Closes the descriptor held (a failure of that close is not reported)
  // and holds `fd` instead. Never fails.
  void Reset(int fd = -1) noexcept;
  // Closes the descriptor held now, so that a failure of the close (a
  // write the file system could not complete) can be reported: false with
  // errno set when the close failed. Nothing is held afterwards, even then;
  // with nothing held it returns true.
  [[nodiscard]] bool Close() noexcept;

 private:
  int fd_ = -1;
};

// Both ends of a pipe.
struct CORVANE_API Pipe {
  Descriptor read_end;
  Descriptor write_end;
};

// A new pipe whose ends have the flags `flags` (O_CLOEXEC, O_NONBLOCK).
// Throws Failure when the system cannot make one.
CORVANE_API Pipe OpenPipe(int flags);

}  // namespace corvane::platform

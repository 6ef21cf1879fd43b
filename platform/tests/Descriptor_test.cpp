// SPDX-License-Identifier: Apache-2.0
#include "platform/Descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace corvane::platform {
namespace {

// Whether the pipe whose read end is `pipe` still has a write end open: a
// read finds nothing yet (EAGAIN) rather than the end of the pipe.
bool WriterOpen(const Pipe& pipe) {
  char byte;
  return ::read(pipe.read_end.Get(), &byte, 1) < 0 && errno == EAGAIN;
}

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

Pipe NewPipe() { return OpenPipe(O_CLOEXEC | O_NONBLOCK); }

TEST(Descriptor, MovedFromOwnsNothingAndTheDescriptorIsClosedOnce) {
  Pipe pipe = NewPipe();
  int number = pipe.write_end.Get();
  Descriptor first(pipe.write_end.Release());
  {
    Descriptor second(std::move(first));
    EXPECT_EQ(first.Get(), -1);
    EXPECT_EQ(second.Get(), number);
    EXPECT_TRUE(WriterOpen(pipe));
  }
  EXPECT_FALSE(WriterOpen(pipe));
  // The number is free again and another file takes it: the moved-from
  // owner must not close it a second time.
  Pipe next = NewPipe();
  Descriptor reused(::dup2(next.read_end.Get(), number));
  ASSERT_EQ(reused.Get(), number);
  first.Reset();
  EXPECT_TRUE(IsOpen(number));
}

TEST(Descriptor, MoveAssignmentAndResetCloseWhatWasHeld) {
  Pipe old_pipe = NewPipe();
  Pipe new_pipe = NewPipe();
  Descriptor owner(old_pipe.write_end.Release());
  owner = std::move(new_pipe.write_end);
  EXPECT_FALSE(WriterOpen(old_pipe));
  EXPECT_TRUE(WriterOpen(new_pipe));

  Pipe third = NewPipe();
  owner.Reset(third.write_end.Release());
  EXPECT_FALSE(WriterOpen(new_pipe));
  EXPECT_TRUE(WriterOpen(third));
  // Given the number it holds, it keeps it open.
  owner.Reset(owner.Get());
  EXPECT_TRUE(WriterOpen(third));
  owner.Reset();
  EXPECT_EQ(owner.Get(), -1);
  EXPECT_FALSE(WriterOpen(third));
}

TEST(Descriptor, ReleaseHandsTheDescriptorOverOpen) {
  Pipe pipe = NewPipe();
  int released = -1;
  {
    Descriptor owner(pipe.write_end.Release());
    released = owner.Release();
    EXPECT_EQ(owner.Get(), -1);
  }
  EXPECT_TRUE(WriterOpen(pipe));
  ::close(released);
  EXPECT_FALSE(WriterOpen(pipe));
}

TEST(Descriptor, CloseReportsAFailedCloseAndHoldsNothingAfter) {
  Pipe pipe = NewPipe();
  EXPECT_TRUE(pipe.write_end.Close());
  EXPECT_EQ(pipe.write_end.Get(), -1);
  EXPECT_FALSE(WriterOpen(pipe));
  EXPECT_TRUE(pipe.write_end.Close());  // nothing held: nothing to report

  // A number that names no open file fails to close.
  Descriptor stale(1 << 20);
  errno = 0;
  EXPECT_FALSE(stale.Close());
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(stale.Get(), -1);

  EXPECT_EQ(Descriptor(-5).Get(), -1);  // a failed open owns nothing
}

}  // namespace
}  // namespace corvane::platform

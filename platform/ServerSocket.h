// SPDX-License-Identifier: Apache-2.0
// The accepted connections of a server that reads request heads itself: a
// poll over many sockets that a thread can be woken from, reads and writes
// that wait a bounded time, and writes that never raise SIGPIPE.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Descriptor.h"
#include "platform/Export.h"

namespace corvane::platform {

// What a read of a connection gave: bytes, the peer's end, nothing yet
// (within the time allowed), or a failure of the connection.
struct CORVANE_API SocketRead {
  enum Outcome { kBytes, kEnd, kNothing, kFailed } outcome;
  size_t count = 0;
};

// Reads what `socket` has, waiting at most `timeout_ms` (0: not at all).
CORVANE_API SocketRead ReadSocket(int socket, char* buffer, size_t size,
                                  int timeout_ms);

// Writes all of `data`, waiting at most `timeout_ms` for room each time;
// false when the peer has gone, the time ran out or the socket failed.
[[nodiscard]] CORVANE_API bool WriteSocket(int socket, const char* data,
                                           size_t size, int timeout_ms);

// Whether the socket has bytes (or its end) within `timeout_ms`; false on
// a timeout or a failure.
CORVANE_API bool WaitReadable(int socket, int timeout_ms);

// Whether the socket can be written within `timeout_ms`; false on failure.
CORVANE_API bool WaitWritable(int socket, int timeout_ms);

// Ends the sending direction (the peer reads an end after what was sent);
// reads go on. Never fails.
CORVANE_API void EndWriting(int socket);

// Marks the socket to be closed in programs this one starts. Never fails.
CORVANE_API void CloseOnExec(int socket);

// Shuts both directions down and closes the socket. Never fails.
CORVANE_API void CloseSocket(int socket);

// The peer's or the local address of a connected socket as text, and its
// port; an empty address and 0 when the socket cannot tell.
CORVANE_API void PeerAddress(int socket, std::string& address, int& port);
CORVANE_API void LocalAddress(int socket, std::string& address, int& port);

// A set of sockets a thread waits on, and a way to wake that thread from
// another one.
class CORVANE_API SocketPoll {
 public:
  // Throws Failure when the wake-up pipe cannot be made.
  SocketPoll();
  SocketPoll(const SocketPoll&) = delete;
  SocketPoll& operator=(const SocketPoll&) = delete;

  // Waits until one of `sockets` can be read or has closed, Wake is called,
  // or `timeout_ms` passes (-1: no limit). Returns the indexes (into
  // `sockets`) of the sockets that are ready; empty on a wake-up, a
  // timeout or an interrupted wait.
  std::vector<size_t> Wait(const std::vector<int>& sockets, int timeout_ms);
  // Ends the current or the next Wait. Never fails; safe from any thread.
  void Wake();

 private:
  Pipe wake_;
};

}  // namespace corvane::platform

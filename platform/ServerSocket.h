// SPDX-License-Identifier: Apache-2.0
// The accepted connections of a server that reads request heads itself: a
// set of sockets many threads wait on at once, reads and writes
// that wait a bounded time, and writes that never raise SIGPIPE.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
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

// Ends the receiving direction: reads see an end at once, whatever the
// peer sends; writes go on. Never fails.
CORVANE_API void EndReading(int socket);

// Marks the socket to be closed in programs this one starts. Never fails.
CORVANE_API void CloseOnExec(int socket);

// Shuts both directions down and closes the socket. Never fails.
CORVANE_API void CloseSocket(int socket);

// The peer's or the local address of a connected socket as text, and its
// port; an empty address and 0 when the socket cannot tell.
CORVANE_API void PeerAddress(int socket, std::string& address, int& port);
CORVANE_API void LocalAddress(int socket, std::string& address, int& port);

// Two connected local stream sockets, in `ends`; false when the system
// cannot make them.
[[nodiscard]] CORVANE_API bool SocketPair(int ends[2]);

// Sockets that many threads wait on together, each socket armed for one
// reading at a time: once a socket is handed to a waiting thread it is not
// handed out again until it is armed anew, so one thread at a time has it.
class CORVANE_API SocketEvents {
 public:
  // What Wait gives when Wake was called; no socket has this key.
  static constexpr uint64_t kWoken = ~uint64_t{0};

  // Throws Failure when the system cannot make the set.
  SocketEvents();
  SocketEvents(const SocketEvents&) = delete;
  SocketEvents& operator=(const SocketEvents&) = delete;

  // Adds `socket`, armed, under `key`; false when the system refuses it.
  [[nodiscard]] bool Add(int socket, uint64_t key);
  // Arms `socket` again for its next reading (or its end); false when the
  // system refuses it. The socket must have been added with `key`.
  [[nodiscard]] bool Arm(int socket, uint64_t key);
  // Waits until an armed socket can be read or has closed, and returns its
  // key (the socket is then disarmed); kWoken once Wake has been called;
  // nothing when `timeout_ms` passed or the wait was interrupted.
  std::optional<uint64_t> Wait(int timeout_ms);
  // Ends every current and later Wait with kWoken. Never fails; safe from
  // any thread.
  void Wake();

 private:
  Descriptor set_;
  Descriptor wake_;
};

}  // namespace corvane::platform

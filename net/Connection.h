// SPDX-License-Identifier: Apache-2.0
// What a component holds while it talks to a server: its start of the
// socket library, the socket it opened, and the time limits of its Timeout
// property. One place for what every client component needs.
#pragma once

#include <cstdint>

#include "net/modNetwork.h"
#include "platform/Export.h"

namespace corvane::net {

// A component's Timeout property: seconds for the connection and for each
// reply (and each send); 0 or below means the defaults.
struct CORVANE_API TimeoutSetting {
  int32_t seconds = 0;

  // The property's value: the seconds set, or the default reply limit's.
  int32_t Seconds() const;
  int ConnectMs() const;
  int ReplyMs() const;
};

// The socket library start and the socket of one exchange. Close ends both,
// once; the destructor closes.
class CORVANE_API Connection {
 public:
  Connection() = default;
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Starts the socket library for this exchange; false when it cannot.
  [[nodiscard]] bool Start();
  // Creates the socket; false when none can be created.
  [[nodiscard]] bool Open();
  int32_t socket() const { return socket_; }
  // Closes the socket and ends this start of the socket library; never
  // fails, and does nothing the second time.
  void Close();

 private:
  int32_t socket_ = -1;
  bool started_ = false;
};

}  // namespace corvane::net

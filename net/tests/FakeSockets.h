// SPDX-License-Identifier: Apache-2.0
// An in-process peer behind the platform socket interface for unit tests:
// it records what is sent and answers receives from a list of chunks.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/Sockets.h"

namespace corvane::net::testing {

// Names resolve without the resolver: "localhost" is 127.0.0.1, every other
// name is unknown (11001).
class FakeSockets : public platform::ForwardingSockets {
 public:
  FakeSockets() : ForwardingSockets(platform::Network()), guard_(*this) {}

  int32_t Create() override;
  bool Connect(int32_t socket, uint32_t address, uint16_t port,
               int timeout_ms) override;
  int32_t Send(int32_t socket, const char* data, int32_t count,
               int timeout_ms) override;
  int32_t Receive(int32_t socket, char* buffer, int32_t count,
                  int timeout_ms) override;
  int32_t Close(int32_t socket) override;
  uint32_t Lookup(std::string_view name) override;
  // `qualified_name`, and 127.0.0.1 for the local end.
  std::optional<std::string> QualifiedHostName() override {
    return qualified_name;
  }
  uint32_t LocalAddress(int32_t) override { return 0x0100007Fu; }

  // Everything sent, joined.
  std::string Sent() const;

  // Settings of the peer.
  int32_t handle = 7;
  bool refuse_connect = false;
  // Bytes one send call accepts at most (-1: all).
  int32_t send_limit = -1;
  // Each receive takes the front chunk (as much as fits); when none is
  // left, the receive fails with `final_error`, or sees the close when 0.
  std::deque<std::string> chunks;
  int32_t final_error = 0;
  std::optional<std::string> qualified_name;

  // What the peer saw.
  std::vector<std::string> sends;
  std::vector<int> send_timeouts;
  std::vector<int> receive_timeouts;
  std::vector<int32_t> closed;
  uint32_t connected_address = 0;
  uint16_t connected_port = 0;
  int connect_timeout = -1;
  int connects = 0;
  int lookups = 0;

 private:
  platform::ScopedSockets guard_;
};

}  // namespace corvane::net::testing

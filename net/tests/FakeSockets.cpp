// SPDX-License-Identifier: Apache-2.0
#include "net/tests/FakeSockets.h"

#include <algorithm>
#include <cstring>

namespace corvane::net::testing {

int32_t FakeSockets::Create() { return handle; }

bool FakeSockets::Connect(int32_t, uint32_t address, uint16_t port,
                          int timeout_ms) {
  ++connects;
  connected_address = address;
  connected_port = port;
  connect_timeout = timeout_ms;
  if (refuse_connect) SetLastError(platform::kSocketConnectionRefused);
  return !refuse_connect;
}

int32_t FakeSockets::Send(int32_t, const char* data, int32_t count,
                          int timeout_ms) {
  send_timeouts.push_back(timeout_ms);
  int32_t accepted = send_limit < 0 ? count : std::min(count, send_limit);
  sends.emplace_back(data, static_cast<size_t>(accepted));
  return accepted;
}

int32_t FakeSockets::Receive(int32_t, char* buffer, int32_t count,
                             int timeout_ms) {
  receive_timeouts.push_back(timeout_ms);
  if (chunks.empty()) {
    if (final_error == 0) return 0;
    SetLastError(final_error);
    return -1;
  }
  std::string& front = chunks.front();
  size_t size = std::min(front.size(), static_cast<size_t>(count));
  std::memcpy(buffer, front.data(), size);
  front.erase(0, size);
  if (front.empty()) chunks.pop_front();
  return static_cast<int32_t>(size);
}

int32_t FakeSockets::Close(int32_t socket) {
  closed.push_back(socket);
  return 0;
}

uint32_t FakeSockets::Lookup(std::string_view name) {
  ++lookups;
  if (name == "localhost") return ParseAddress("127.0.0.1");
  SetLastError(platform::kHostNotFound);
  return platform::Sockets::kNoAddress;
}

std::string FakeSockets::Sent() const {
  std::string all;
  for (const auto& piece : sends) all += piece;
  return all;
}

}  // namespace corvane::net::testing

// SPDX-License-Identifier: Apache-2.0
#include "net/Connection.h"

#include <algorithm>
#include <climits>
#include <string>

#include "net/WSKSOCK.h"

namespace corvane::net {

int32_t TimeoutSetting::Seconds() const {
  return seconds > 0 ? seconds : kDefaultReplyTimeoutMs / 1000;
}

int TimeoutSetting::ConnectMs() const {
  if (seconds <= 0) return kDefaultConnectTimeoutMs;
  return std::min(seconds, INT32_MAX / 1000) * 1000;
}

int TimeoutSetting::ReplyMs() const {
  if (seconds <= 0) return kDefaultReplyTimeoutMs;
  return ConnectMs();
}

bool Connection::Start() {
  std::string description;
  started_ = StartWinsock(description);
  return started_;
}

bool Connection::Open() {
  socket_ = CreateSocket();
  return socket_ != -1;
}

void Connection::Close() {
  CloseSocket(socket_);
  socket_ = -1;
  if (started_) {
    started_ = false;
    EndWinsock();
  }
}

}  // namespace corvane::net

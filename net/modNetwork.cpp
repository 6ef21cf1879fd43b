// SPDX-License-Identifier: Apache-2.0
#include "net/modNetwork.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "net/WSKSOCK.h"
#include "platform/Clock.h"
#include "platform/Sockets.h"

namespace corvane::net {
namespace {

using platform::Deadline;

constexpr int32_t kReplyBufferSize = 8096;
constexpr int32_t kAllBufferSize = 1024;

// The TLS sessions of the sockets that started one, by handle.
std::mutex tls_mutex;
std::map<int32_t, std::shared_ptr<platform::TlsSession>> tls_sessions;

std::shared_ptr<platform::TlsSession> SessionOf(int32_t socket) {
  std::lock_guard lock(tls_mutex);
  if (tls_sessions.empty()) return nullptr;
  auto found = tls_sessions.find(socket);
  return found == tls_sessions.end() ? nullptr : found->second;
}

// One send or receive on the socket, through its TLS session when it has
// one.
int32_t SendOn(int32_t socket, const char* data, int32_t count,
               int timeout_ms) {
  if (auto session = SessionOf(socket)) {
    return session->Send(data, count, timeout_ms);
  }
  return platform::Network().Send(socket, data, count, timeout_ms);
}

int32_t ReceiveOn(int32_t socket, char* buffer, int32_t count, int timeout_ms) {
  if (auto session = SessionOf(socket)) {
    return session->Receive(buffer, count, timeout_ms);
  }
  return platform::Network().Receive(socket, buffer, count, timeout_ms);
}

// One receive within the deadline: bytes received, 0 at the close, -1 on
// failure or time-out (with the code recorded).
int32_t ReceiveWithin(int32_t socket, char* buffer, int32_t size,
                      const Deadline& deadline) {
  int left = deadline.Left();
  if (left < 0) {
    platform::Network().SetLastError(platform::kSocketTimedOut);
    return -1;
  }
  return ReceiveOn(socket, buffer, size, left);
}

std::string Fail(int32_t code) {
  platform::Network().SetLastError(code);
  return {};
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

ServerAddress SplitServer(std::string_view server, uint16_t service_port) {
  size_t colon = server.rfind(':');
  if (colon == std::string_view::npos) {
    return {std::string(server), service_port};
  }
  std::string_view digits = server.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) {
    return {std::string(server), service_port};
  }
  uint32_t port = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return {std::string(server), service_port};
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port == 0 || port > 65535) return {std::string(server), service_port};
  return {std::string(server.substr(0, colon)), static_cast<uint16_t>(port)};
}

int32_t CreateSocket() {
  try {
    return platform::Network().Create();
  } catch (...) {
    return -1;
  }
}

bool ConnectSocket(int32_t socket, std::string_view server,
                   uint16_t service_port, int timeout_ms) {
  try {
    ServerAddress target = SplitServer(server, service_port);
    uint32_t address = GetHostAddress(target.host);
    if (address == kAddressNone) return false;
    return platform::Network().Connect(socket, address, target.port,
                                       timeout_ms);
  } catch (...) {
    return false;
  }
}

int32_t SendData(int32_t socket, std::string_view text, int timeout_ms,
                 size_t piece_size) {
  try {
    if (piece_size == 0) piece_size = kSendPieceSize;
    int32_t total = 0;
    for (size_t start = 0; start < text.size(); start += piece_size) {
      std::string_view piece = text.substr(start, piece_size);
      auto length = static_cast<int32_t>(piece.size());
      int32_t sent = SendOn(socket, piece.data(), length, timeout_ms);
      if (sent != length) return -1;
      total += sent;
    }
    return total;
  } catch (...) {
    return -1;
  }
}

std::string_view LastReplyLine(std::string_view reply) {
  std::string_view lines = reply;
  if (!lines.empty() && lines.back() == '\n') lines.remove_suffix(1);
  if (!lines.empty() && lines.back() == '\r') lines.remove_suffix(1);
  size_t start = lines.rfind('\n');
  return start == std::string_view::npos ? lines : lines.substr(start + 1);
}

bool ReplyComplete(std::string_view text) {
  if (text.empty() || text.back() != '\n') return false;
  std::string_view last = LastReplyLine(text);
  if (last.size() < 3 || !IsDigit(last[0]) || !IsDigit(last[1]) ||
      !IsDigit(last[2])) {
    return false;
  }
  return last.size() == 3 || last[3] == ' ';
}

std::string ReceiveReply(int32_t socket, int timeout_ms) {
  try {
    platform::Network().SetLastError(0);
    Deadline deadline(timeout_ms);
    std::string reply;
    char buffer[kReplyBufferSize];
    while (!ReplyComplete(reply)) {
      int32_t got = ReceiveWithin(socket, buffer, kReplyBufferSize, deadline);
      if (got < 0) return {};
      if (got == 0) break;
      reply.append(buffer, static_cast<size_t>(got));
      if (reply.size() > kReplyLimit)
        return Fail(platform::kSocketMessageTooLong);
    }
    return reply;
  } catch (...) {
    return {};
  }
}

namespace {

// The length of the first complete reply at the start of `text`; 0 when
// it is not all there yet.
size_t FirstReplyLength(std::string_view text) {
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    if (ReplyComplete(text.substr(start, end + 1 - start))) return end + 1;
    start = end + 1;
  }
  return 0;
}

}  // namespace

std::string ReceiveNextReply(int32_t socket, int timeout_ms,
                             std::string& pending) {
  try {
    platform::Network().SetLastError(0);
    Deadline deadline(timeout_ms);
    char buffer[kReplyBufferSize];
    size_t length = FirstReplyLength(pending);
    while (length == 0) {
      int32_t got = ReceiveWithin(socket, buffer, kReplyBufferSize, deadline);
      if (got < 0) return {};
      if (got == 0) {
        length = pending.size();
        break;
      }
      pending.append(buffer, static_cast<size_t>(got));
      if (pending.size() > kReplyLimit)
        return Fail(platform::kSocketMessageTooLong);
      length = FirstReplyLength(pending);
    }
    std::string reply = pending.substr(0, length);
    pending.erase(0, length);
    return reply;
  } catch (...) {
    return {};
  }
}

std::string ReceiveAll(int32_t socket, const ReceiveLimits& limits) {
  try {
    platform::Network().SetLastError(0);
    Deadline deadline(limits.timeout_ms);
    std::string answer;
    char buffer[kAllBufferSize];
    for (;;) {
      int32_t got = ReceiveWithin(socket, buffer, kAllBufferSize, deadline);
      if (got < 0) return {};
      if (got == 0) return answer;
      answer.append(buffer, static_cast<size_t>(got));
      if (limits.max_bytes > 0 && answer.size() > limits.max_bytes) {
        return Fail(platform::kSocketMessageTooLong);
      }
    }
  } catch (...) {
    return {};
  }
}

int16_t GetReplyCode(std::string_view reply) {
  std::string_view head = reply.substr(0, 3);
  if (head.empty()) return -1;
  int16_t code = 0;
  for (char c : head) {
    if (!IsDigit(c)) return -1;
    code = static_cast<int16_t>(code * 10 + (c - '0'));
  }
  return code;
}

bool StartTls(int32_t socket, const platform::TlsSettings& settings,
              int timeout_ms, std::string& error) {
  try {
    auto session =
        platform::TlsSession::Open(socket, settings, timeout_ms, error);
    if (!session) return false;
    std::lock_guard lock(tls_mutex);
    tls_sessions[socket] = std::move(session);
    return true;
  } catch (...) {
    error = "TLS failure.";
    return false;
  }
}

bool TlsActive(int32_t socket) { return SessionOf(socket) != nullptr; }

void CloseSocket(int32_t socket) {
  try {
    std::shared_ptr<platform::TlsSession> session;
    {
      std::lock_guard lock(tls_mutex);
      auto found = tls_sessions.find(socket);
      if (found != tls_sessions.end()) {
        session = std::move(found->second);
        tls_sessions.erase(found);
      }
    }
    if (session) session->Close();
    if (socket > 0) platform::Network().Close(socket);
  } catch (...) {
    // Closing cannot be reported to anyone: the socket is gone either way.
  }
}

}  // namespace corvane::net

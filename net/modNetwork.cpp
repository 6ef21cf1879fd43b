#include "net/modNetwork.h"

#include <chrono>

#include "net/WSKSOCK.h"
#include "platform/Sockets.h"

namespace corvane::net {
namespace {

constexpr int32_t kReplyBufferSize = 8096;
constexpr int32_t kAllBufferSize = 1024;

// A time limit over several receives; 0 ms means none.
class Deadline {
 public:
  explicit Deadline(int timeout_ms)
      : limited_(timeout_ms > 0),
        end_(std::chrono::steady_clock::now() +
             std::chrono::milliseconds(timeout_ms)) {}

  // Milliseconds left for the next receive (0: no limit); -1 when expired.
  int Left() const {
    if (!limited_) return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end_ - std::chrono::steady_clock::now())
                    .count();
    return left > 0 ? static_cast<int>(left) : -1;
  }

 private:
  bool limited_;
  std::chrono::steady_clock::time_point end_;
};

// One receive within the deadline: bytes received, 0 at the close, -1 on
// failure or time-out (with the code recorded).
int32_t ReceiveWithin(int32_t socket, char* buffer, int32_t size,
                      const Deadline& deadline) {
  auto& sockets = platform::Network();
  int left = deadline.Left();
  if (left < 0) {
    sockets.SetLastError(platform::kSocketTimedOut);
    return -1;
  }
  return sockets.Receive(socket, buffer, size, left);
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

int32_t SendData(int32_t socket, std::string_view text, int timeout_ms) {
  try {
    auto& sockets = platform::Network();
    int32_t total = 0;
    for (size_t start = 0; start < text.size(); start += kSendPieceSize) {
      std::string_view piece = text.substr(start, kSendPieceSize);
      auto length = static_cast<int32_t>(piece.size());
      int32_t sent = sockets.Send(socket, piece.data(), length, timeout_ms);
      if (sent != length) return -1;
      total += sent;
    }
    return total;
  } catch (...) {
    return -1;
  }
}

bool ReplyComplete(std::string_view text) {
  if (text.empty() || text.back() != '\n') return false;
  std::string_view lines = text.substr(0, text.size() - 1);
  if (!lines.empty() && lines.back() == '\r') lines.remove_suffix(1);
  size_t start = lines.rfind('\n');
  std::string_view last =
      start == std::string_view::npos ? lines : lines.substr(start + 1);
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

void CloseSocket(int32_t socket) {
  try {
    if (socket > 0) platform::Network().Close(socket);
  } catch (...) {
  }
}

}  // namespace corvane::net

// SPDX-License-Identifier: Apache-2.0
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/Retry.h"

namespace corvane::platform {
namespace {

thread_local int32_t last_socket_error = 0;
Sockets* current_sockets = nullptr;

int32_t Fail(int32_t code) {
  last_socket_error = code;
  return -1;
}

int32_t FailWithErrno() { return Fail(SocketErrorFromErrno(errno)); }

// Waits until the socket is ready for `events`, at most `timeout_ms` (0: no
// limit); false with the code set on a time-out or a failure.
bool WaitFor(int socket, short events, int timeout_ms) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // What is left of the limit, again after a signal interrupted the wait.
  auto left_ms = [&] {
    if (timeout_ms <= 0) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - Clock::now())
                    .count();
    return left > 0 ? static_cast<int>(left) : 0;
  };
  struct pollfd pfd = {socket, events, 0};
  int ready = RetryOnInterrupt([&] { return ::poll(&pfd, 1, left_ms()); });
  if (ready > 0) return true;
  if (ready == 0) {
    Fail(kSocketTimedOut);
    return false;
  }
  FailWithErrno();
  return false;
}

int32_t SendBlocking(int socket, const char* data, int32_t count) {
  ssize_t sent = RetryOnInterrupt([&] {
    return ::send(socket, data, static_cast<size_t>(count), MSG_NOSIGNAL);
  });
  if (sent < 0) return FailWithErrno();
  return static_cast<int32_t>(sent);
}

bool SetBlocking(int socket, bool blocking) {
  int flags = ::fcntl(socket, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(socket, F_SETFL, flags) == 0;
}

}  // namespace

int32_t SocketErrorFromErrno(int error) {
  switch (error) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return kSocketMessageTooLong;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
    case EPIPE:
      return 10054;
    case ENOBUFS:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case ESHUTDOWN:
      return 10058;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    case EDQUOT:
      return 10069;
    case ESTALE:
      return 10070;
    default:
      return 10022;
  }
}

int32_t SocketErrorFromResolver(int result) {
  switch (result) {
    case EAI_NONAME:
      return kHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kHostNoData;
#endif
    case EAI_AGAIN:
      return kHostTryAgain;
    case EAI_FAIL:
      return kHostNoRecovery;
    case EAI_ADDRFAMILY:
      return kHostNoData;
    case EAI_SYSTEM:
      return SocketErrorFromErrno(errno);
    default:
      return kHostNoRecovery;
  }
}

int32_t PosixSockets::Create() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return FailWithErrno();
  // The components speak in commands and replies: a short write (a command,
  // the end of a message) must leave at once rather than wait for the peer
  // to acknowledge the previous one.
  int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return s;
}

bool PosixSockets::Connect(int32_t socket, uint32_t address, uint16_t port,
                           int timeout_ms) {
  struct sockaddr_in peer;
  std::memset(&peer, 0, sizeof peer);
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  // Connect without blocking so that the wait can be bounded, then hand the
  // socket back in blocking mode.
  if (!SetBlocking(socket, false)) return FailWithErrno(), false;
  int result =
      ::connect(socket, reinterpret_cast<struct sockaddr*>(&peer), sizeof peer);
  bool connected = result == 0;
  if (!connected && errno != EINPROGRESS) {
    FailWithErrno();
  } else if (!connected && WaitFor(socket, POLLOUT, timeout_ms)) {
    int error = 0;
    socklen_t length = sizeof error;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
    connected = error == 0;
    if (!connected) Fail(SocketErrorFromErrno(error));
  }
  SetBlocking(socket, true);
  return connected;
}

int32_t PosixSockets::Send(int32_t socket, const char* data, int32_t count,
                           int timeout_ms) {
  if (timeout_ms <= 0) return SendBlocking(socket, data, count);
  // Without blocking, so that a peer that stops reading cannot hold the
  // caller beyond the time-out. The send is tried first: a socket with room
  // takes the bytes at once, and only a full one is waited for.
  using Clock = std::chrono::steady_clock;
  std::chrono::steady_clock::time_point deadline;
  bool waited = false;
  int32_t total = 0;
  while (total < count) {
    ssize_t sent = RetryOnInterrupt([&] {
      return ::send(socket, data + total, static_cast<size_t>(count - total),
                    MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      return FailWithErrno();
    }
    if (sent > 0) {
      total += static_cast<int32_t>(sent);
      continue;
    }
    if (!waited) {
      deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
      waited = true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - Clock::now())
                    .count();
    if (left <= 0) return Fail(kSocketTimedOut);
    if (!WaitFor(socket, POLLOUT, static_cast<int>(left))) return -1;
  }
  return total;
}

int32_t PosixSockets::Receive(int32_t socket, char* buffer, int32_t count,
                              int timeout_ms) {
  if (timeout_ms > 0 && !WaitFor(socket, POLLIN, timeout_ms)) return -1;
  ssize_t got = RetryOnInterrupt(
      [&] { return ::recv(socket, buffer, static_cast<size_t>(count), 0); });
  if (got < 0) return FailWithErrno();
  return static_cast<int32_t>(got);
}

int32_t PosixSockets::Close(int32_t socket) {
  if (::close(socket) != 0) return FailWithErrno();
  return 0;
}

uint32_t PosixSockets::ParseAddress(std::string_view dotted) {
  std::string text(dotted);
  return ::inet_addr(text.c_str());
}

uint32_t PosixSockets::Lookup(std::string_view name) {
  std::string text(name);
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* answer = nullptr;
  int result = ::getaddrinfo(text.c_str(), nullptr, &hints, &answer);
  if (result != 0 || answer == nullptr) {
    Fail(result != 0 ? SocketErrorFromResolver(result) : kHostNoData);
    return kNoAddress;
  }
  uint32_t address =
      reinterpret_cast<struct sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(answer);
  return address;
}

std::optional<std::string> PosixSockets::HostName() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) {
    FailWithErrno();
    return std::nullopt;
  }
  return std::string(buffer);
}

// The resolver's answer for this machine's name: asked once per process,
// since a look-up costs more than a whole mail dialogue on loopback.
std::optional<std::string> PosixSockets::QualifiedHostName() {
  static const std::optional<std::string> name = LookUpQualifiedHostName();
  return name;
}

std::optional<std::string> PosixSockets::LookUpQualifiedHostName() {
  auto name = HostName();
  if (!name || name->empty()) return std::nullopt;
  auto qualified = [](const std::string& text) {
    return text.find('.') != std::string::npos && text.back() != '.' &&
           text.find_first_not_of("0123456789.") != std::string::npos;
  };
  if (qualified(*name)) return name;
  struct addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  struct addrinfo* answer = nullptr;
  if (::getaddrinfo(name->c_str(), nullptr, &hints, &answer) != 0) {
    return std::nullopt;
  }
  std::optional<std::string> canonical;
  if (answer != nullptr && answer->ai_canonname != nullptr &&
      qualified(answer->ai_canonname)) {
    canonical = answer->ai_canonname;
  }
  ::freeaddrinfo(answer);
  return canonical;
}

uint32_t PosixSockets::LocalAddress(int32_t socket) {
  struct sockaddr_in local;
  socklen_t length = sizeof local;
  if (::getsockname(socket, reinterpret_cast<struct sockaddr*>(&local),
                    &length) != 0 ||
      local.sin_family != AF_INET) {
    FailWithErrno();
    return kNoAddress;
  }
  return local.sin_addr.s_addr;
}

int32_t PosixSockets::LastError() { return last_socket_error; }

void PosixSockets::SetLastError(int32_t code) { last_socket_error = code; }

Sockets& Network() {
  static PosixSockets posix;
  return current_sockets ? *current_sockets : posix;
}

ScopedSockets::ScopedSockets(Sockets& replacement)
    : previous_(current_sockets) {
  current_sockets = &replacement;
}

ScopedSockets::~ScopedSockets() { current_sockets = previous_; }

}  // namespace corvane::platform

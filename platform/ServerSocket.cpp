// SPDX-License-Identifier: Apache-2.0
#include "platform/ServerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

// Waits for `events` on one socket; false on a timeout or a failure.
bool WaitFor(int socket, short events, int timeout_ms) {
  pollfd entry{socket, events, 0};
  return RetryOnInterrupt([&] { return ::poll(&entry, 1, timeout_ms); }) > 0;
}

void AddressOf(const sockaddr_storage& address, socklen_t length,
               std::string& text, int& port) {
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host,
                    sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    text.clear();
    port = 0;
    return;
  }
  text = host;
  port = std::atoi(service);
}

}  // namespace

SocketRead ReadSocket(int socket, char* buffer, size_t size, int timeout_ms) {
  // Bytes that are already there are taken without a wait first.
  bool waited = timeout_ms <= 0;
  for (;;) {
    ssize_t n = RetryOnInterrupt(
        [&] { return ::recv(socket, buffer, size, MSG_DONTWAIT); });
    if (n > 0) return {SocketRead::kBytes, static_cast<size_t>(n)};
    if (n == 0) return {SocketRead::kEnd};
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {SocketRead::kFailed};
    if (waited || !WaitFor(socket, POLLIN, timeout_ms)) {
      return {SocketRead::kNothing};
    }
    waited = true;
  }
}

bool WaitReadable(int socket, int timeout_ms) {
  return WaitFor(socket, POLLIN, timeout_ms);
}

bool WaitWritable(int socket, int timeout_ms) {
  return WaitFor(socket, POLLOUT, timeout_ms);
}

bool WriteSocket(int socket, const char* data, size_t size, int timeout_ms) {
  while (size > 0) {
    ssize_t n = RetryOnInterrupt([&] {
      return ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        WaitFor(socket, POLLOUT, timeout_ms)) {
      continue;
    }
    return false;
  }
  return true;
}

void EndWriting(int socket) { ::shutdown(socket, SHUT_WR); }

void EndReading(int socket) { ::shutdown(socket, SHUT_RD); }

void CloseOnExec(int socket) {
  ::fcntl(socket, F_SETFD, ::fcntl(socket, F_GETFD) | FD_CLOEXEC);
}

void CloseSocket(int socket) {
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

void PeerAddress(int socket, std::string& address, int& port) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&storage), &length)) {
    address.clear();
    port = 0;
    return;
  }
  AddressOf(storage, length, address, port);
}

void LocalAddress(int socket, std::string& address, int& port) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&storage), &length)) {
    address.clear();
    port = 0;
    return;
  }
  AddressOf(storage, length, address, port);
}

bool SocketPair(int ends[2]) {
  return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0;
}

SocketEvents::SocketEvents()
    : set_(::epoll_create1(EPOLL_CLOEXEC)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (set_.Get() < 0 || wake_.Get() < 0) {
    throw FailureFromErrno(errno, "cannot make a set of sockets");
  }
  // Level-triggered and never disarmed: once woken, every wait sees it.
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kWoken;
  if (::epoll_ctl(set_.Get(), EPOLL_CTL_ADD, wake_.Get(), &event) != 0) {
    throw FailureFromErrno(errno, "cannot make a set of sockets");
  }
}

namespace {

bool Control(int set, int operation, int socket, uint64_t key) {
  epoll_event event{};
  event.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  event.data.u64 = key;
  return ::epoll_ctl(set, operation, socket, &event) == 0;
}

}  // namespace

bool SocketEvents::Add(int socket, uint64_t key) {
  return Control(set_.Get(), EPOLL_CTL_ADD, socket, key);
}

bool SocketEvents::Arm(int socket, uint64_t key) {
  return Control(set_.Get(), EPOLL_CTL_MOD, socket, key);
}

std::optional<uint64_t> SocketEvents::Wait(int timeout_ms) {
  // One socket a call: the others stay for the other waiting threads.
  epoll_event event{};
  if (::epoll_wait(set_.Get(), &event, 1, timeout_ms) != 1) return {};
  return uint64_t{event.data.u64};
}

void SocketEvents::Wake() {
  uint64_t one = 1;
  RetryOnInterrupt([&] { return ::write(wake_.Get(), &one, sizeof one); });
}

}  // namespace corvane::platform

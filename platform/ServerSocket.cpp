// SPDX-License-Identifier: Apache-2.0
#include "platform/ServerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
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

SocketPoll::SocketPoll() : wake_(OpenPipe(O_CLOEXEC | O_NONBLOCK)) {}

std::vector<size_t> SocketPoll::Wait(const std::vector<int>& sockets,
                                     int timeout_ms) {
  std::vector<pollfd> entries;
  entries.reserve(sockets.size() + 1);
  entries.push_back({wake_.read_end.Get(), POLLIN, 0});
  for (int socket : sockets) entries.push_back({socket, POLLIN, 0});
  std::vector<size_t> ready;
  if (::poll(entries.data(), entries.size(), timeout_ms) <= 0) return ready;
  if (entries[0].revents) {
    char drain[64];
    while (RetryOnInterrupt([&] {
             return ::read(wake_.read_end.Get(), drain, sizeof drain);
           }) > 0) {
    }
  }
  for (size_t n = 1; n < entries.size(); ++n) {
    if (entries[n].revents) ready.push_back(n - 1);
  }
  return ready;
}

void SocketPoll::Wake() {
  char one = 1;
  // A full pipe already holds a wake-up.
  RetryOnInterrupt([&] { return ::write(wake_.write_end.Get(), &one, 1); });
}

}  // namespace corvane::platform

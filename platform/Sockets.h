// SPDX-License-Identifier: Apache-2.0
// TCP client sockets of the platform, with time-outs, behind an interface
// that a test can wrap to inject a fault. Errors are reported as the socket
// error codes the components translate to text (10061, 11001, ...).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Export.h"

namespace corvane::platform {

// Socket error codes used by the platform layer itself.
enum SocketError : int32_t {
  kSocketBadHandle = 10009,
  kSocketInvalidArgument = 10022,
  kSocketMessageTooLong = 10040,
  kSocketTimedOut = 10060,
  kSocketConnectionRefused = 10061,
  kSocketConnectionReset = 10054,
  kSocketNotConnected = 10057,
  kHostNotFound = 11001,
  kHostTryAgain = 11002,
  kHostNoRecovery = 11003,
  kHostNoData = 11004,
};

// The socket error code for an errno value.
CORVANE_API int32_t SocketErrorFromErrno(int error);

// The socket error code for a getaddrinfo result.
CORVANE_API int32_t SocketErrorFromResolver(int result);

// IPv4 addresses are 32-bit values in network byte order; all ones means
// none. Every call that fails records its code for LastError().
class CORVANE_API Sockets {
 public:
  static constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

  virtual ~Sockets() = default;
  // A new IPv4 stream socket's handle; -1 on failure.
  virtual int32_t Create() = 0;
  // Connects within `timeout_ms` (0: no limit); false on failure.
  virtual bool Connect(int32_t socket, uint32_t address, uint16_t port,
                       int timeout_ms) = 0;
  // Bytes accepted, with no signal on a closed peer: all of them unless the
  // peer takes none for `timeout_ms` (0: no limit); -1 on failure, 10060
  // when the time ran out.
  virtual int32_t Send(int32_t socket, const char* data, int32_t count,
                       int timeout_ms = 0) = 0;
  // Bytes received, 0 when the peer closed; -1 on failure or when nothing
  // arrives within `timeout_ms` (0: no limit; code 10060).
  virtual int32_t Receive(int32_t socket, char* buffer, int32_t count,
                          int timeout_ms) = 0;
  // 0, or -1 on failure.
  virtual int32_t Close(int32_t socket) = 0;
  // The dotted-quad form parsed; kNoAddress when the text is not one.
  virtual uint32_t ParseAddress(std::string_view dotted) = 0;
  // The first IPv4 address of a name; kNoAddress on failure (11001...).
  virtual uint32_t Lookup(std::string_view name) = 0;
  // This machine's host name; nullopt when it cannot be told.
  virtual std::optional<std::string> HostName() = 0;
  // This machine's fully qualified domain name (a name with a dot, as the
  // resolver knows it); nullopt when it has none.
  virtual std::optional<std::string> QualifiedHostName() = 0;
  // The local IPv4 address of a connected socket; kNoAddress on failure.
  virtual uint32_t LocalAddress(int32_t socket) = 0;
  // The code of the last failure on this thread (0 when none).
  virtual int32_t LastError() = 0;
  virtual void SetLastError(int32_t code) = 0;
};

class CORVANE_API PosixSockets : public Sockets {
 public:
  int32_t Create() override;
  bool Connect(int32_t socket, uint32_t address, uint16_t port,
               int timeout_ms) override;
  int32_t Send(int32_t socket, const char* data, int32_t count,
               int timeout_ms) override;
  int32_t Receive(int32_t socket, char* buffer, int32_t count,
                  int timeout_ms) override;
  int32_t Close(int32_t socket) override;
  uint32_t ParseAddress(std::string_view dotted) override;
  uint32_t Lookup(std::string_view name) override;
  std::optional<std::string> HostName() override;
  std::optional<std::string> QualifiedHostName() override;
  uint32_t LocalAddress(int32_t socket) override;
  int32_t LastError() override;
  void SetLastError(int32_t code) override;

 private:
  std::optional<std::string> LookUpQualifiedHostName();
};

// Forwards every call; a test overrides only the call it breaks.
class CORVANE_API ForwardingSockets : public Sockets {
 public:
  explicit ForwardingSockets(Sockets& inner) : inner_(inner) {}
  int32_t Create() override { return inner_.Create(); }
  bool Connect(int32_t s, uint32_t a, uint16_t p, int t) override {
    return inner_.Connect(s, a, p, t);
  }
  int32_t Send(int32_t s, const char* d, int32_t n, int t) override {
    return inner_.Send(s, d, n, t);
  }
  int32_t Receive(int32_t s, char* b, int32_t n, int t) override {
    return inner_.Receive(s, b, n, t);
  }
  int32_t Close(int32_t s) override { return inner_.Close(s); }
  uint32_t ParseAddress(std::string_view d) override {
    return inner_.ParseAddress(d);
  }
  uint32_t Lookup(std::string_view n) override { return inner_.Lookup(n); }
  std::optional<std::string> HostName() override { return inner_.HostName(); }
  std::optional<std::string> QualifiedHostName() override {
    return inner_.QualifiedHostName();
  }
  uint32_t LocalAddress(int32_t s) override { return inner_.LocalAddress(s); }
  int32_t LastError() override { return inner_.LastError(); }
  void SetLastError(int32_t c) override { inner_.SetLastError(c); }

 protected:
  Sockets& inner_;
};

// The socket interface in use (the POSIX one unless a test installed one).
CORVANE_API Sockets& Network();

// Installs `replacement` until the guard ends.
class CORVANE_API ScopedSockets {
 public:
  explicit ScopedSockets(Sockets& replacement);
  ~ScopedSockets();
  ScopedSockets(const ScopedSockets&) = delete;
  ScopedSockets& operator=(const ScopedSockets&) = delete;

 private:
  Sockets* previous_;
};

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// TLS client sessions over a connected socket of the platform's socket
// interface: every byte goes through Network(), so a test that wraps the
// socket interface reaches TLS connections too. OpenSSL does the protocol.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Export.h"

namespace corvane::platform {

struct CORVANE_API TlsSettings {
  // The name (or dotted address) the server's certificate must be for; a
  // name is also sent as the server name indication.
  std::string server_name;
  // Check the certificate against the trusted certificates and the name.
  bool verify = true;
  // A file of further trusted certificates (PEM); empty for none.
  std::string ca_file;
  // The server's identity for resuming an earlier session ("host:port"):
  // a later connection to the same server with the same settings skips
  // the certificate exchange. Empty: never resumed.
  std::string session_key;
};

class CORVANE_API TlsSession {
 public:
  // Runs the handshake on `socket` within `timeout_ms` (0: no limit). On
  // failure returns null with `error` telling why (OpenSSL's reason, the
  // certificate check's verdict, or the socket error's text) and the
  // socket's last error set when a socket call failed.
  static std::unique_ptr<TlsSession> Open(int32_t socket,
                                          const TlsSettings& settings,
                                          int timeout_ms, std::string& error);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Sends all `count` bytes within `timeout_ms` (0: no limit); `count`, or
  // -1 on failure (the socket's last error set).
  int32_t Send(const char* data, int32_t count, int timeout_ms);
  // Bytes received (at most `count`), 0 when the peer closed, -1 on failure
  // or when nothing arrives within `timeout_ms` (10060).
  int32_t Receive(char* buffer, int32_t count, int timeout_ms);
  // Sends the closing alert, without waiting for the peer's; never fails.
  void Close();

  struct State;

 private:
  explicit TlsSession(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace corvane::platform

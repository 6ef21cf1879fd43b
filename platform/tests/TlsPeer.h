// SPDX-License-Identifier: Apache-2.0
// A mail server on loopback for tests of TLS clients: it greets, offers
// STARTTLS, switches to TLS with a certificate it made for "localhost" and
// 127.0.0.1, and accepts one message. It serves one connection and gives up
// quietly when the client goes away.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

namespace corvane::platform::testing {

class TlsPeer {
 public:
  TlsPeer();
  ~TlsPeer();
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  // "127.0.0.1:port".
  std::string Address() const;
  // A PEM file holding the peer's certificate, for TlsCAFile.
  const std::string& CertificateFile() const { return certificate_file_; }
  // The message text received, once the peer has served (after Join).
  void Join();
  const std::string& Message() const { return message_; }

 private:
  void Serve();

  int listener_ = -1;
  uint16_t port_ = 0;
  std::string certificate_file_;
  std::string certificate_pem_;
  std::string key_pem_;
  std::string message_;
  std::thread thread_;
};

}  // namespace corvane::platform::testing

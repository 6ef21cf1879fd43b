// SPDX-License-Identifier: Apache-2.0
// SendMail over STARTTLS against a loopback TLS peer, with faults injected
// into the platform's socket interface beneath the TLS session.
#include <gtest/gtest.h>

#include <string_view>

#include "frame/MemoryHost.h"
#include "mail/SMTP.h"
#include "platform/Sockets.h"
#include "platform/tests/TlsPeer.h"

namespace corvane::penrill {
namespace {

constexpr int32_t kConnectionError = -2147221500;
constexpr int32_t kShortSendError = -2147221498;
constexpr std::string_view kSecureError =
    "Unable to establish a secure connection with SMTP Server. ";

enum class Fault {
  kNone,
  kHandshakeReset,
  kHandshakeTimeout,
  kDataReset,
  kDataTimeout
};

// Passes every call to the real sockets but the one its fault breaks: the
// first send (a reset) or receive (a time-out) of the handshake after
// STARTTLS was accepted, or the first send of message text (the only
// records larger than 1500 bytes).
class FaultySockets : public platform::ForwardingSockets {
 public:
  explicit FaultySockets(Fault fault)
      : ForwardingSockets(platform::Network()), fault_(fault), guard_(*this) {}

  int32_t Send(int32_t socket, const char* data, int32_t count,
               int timeout_ms) override {
    if (std::string_view(data, static_cast<size_t>(count)) == "STARTTLS\r\n") {
      starttls_sent_ = true;
    }
    bool handshake = starttls_sent_ && receives_after_starttls_ >= 1;
    if ((fault_ == Fault::kHandshakeReset && handshake) ||
        (fault_ == Fault::kDataReset && count > 1500)) {
      return Broken(platform::kSocketConnectionReset);
    }
    if (fault_ == Fault::kDataTimeout && count > 1500) {
      return Broken(platform::kSocketTimedOut);
    }
    return inner_.Send(socket, data, count, timeout_ms);
  }

  int32_t Receive(int32_t socket, char* buffer, int32_t count,
                  int timeout_ms) override {
    if (starttls_sent_ && ++receives_after_starttls_ == 2 &&
        fault_ == Fault::kHandshakeTimeout) {
      return Broken(platform::kSocketTimedOut);
    }
    return inner_.Receive(socket, buffer, count, timeout_ms);
  }

  bool fired = false;

 private:
  int32_t Broken(int32_t code) {
    fired = true;
    SetLastError(code);
    return -1;
  }

  Fault fault_;
  bool starttls_sent_ = false;
  int receives_after_starttls_ = 0;
  platform::ScopedSockets guard_;
};

struct Case {
  const char* what;
  Fault fault;
  int32_t number;
  std::string description;
};

TEST(SmtpOverTls, FaultsBeneathTheSessionTakeTheFailurePath) {
  const Case cases[] = {
      {"no fault", Fault::kNone, 0, ""},
      {"reset in the handshake", Fault::kHandshakeReset, kConnectionError,
       std::string(kSecureError) + "Connection reset by peer."},
      {"time-out in the handshake", Fault::kHandshakeTimeout, kConnectionError,
       std::string(kSecureError) + "Connection timed out."},
      {"reset during DATA", Fault::kDataReset, kShortSendError,
       "Network Error: Unable to send the message text. Connection reset by "
       "peer."},
      {"time-out during DATA", Fault::kDataTimeout, kShortSendError,
       "Network Error: Unable to send the message text. Connection timed "
       "out."},
  };
  for (const auto& c : cases) {
    platform::testing::TlsPeer peer;
    FaultySockets sockets(c.fault);
    auto page = MemoryContext::New();
    SMTP smtp;
    smtp.OnStartPage(Variant(page));
    smtp.SMTPServer(peer.Address());
    smtp.Security("starttls");
    smtp.TlsCAFile(peer.CertificateFile());
    smtp.MailFrom("from@example.org");
    smtp.MailTo("to@example.org");
    smtp.MailSubject("over TLS");
    for (int i = 0; i < 40; ++i) smtp.MailContent(std::string(200, 'x'));
    bool sent = smtp.SendMail();
    peer.Join();
    EXPECT_EQ(sent, c.number == 0)
        << c.what << ": " << smtp.GetLastErrDescription();
    EXPECT_EQ(smtp.GetLastErrNum(), c.number) << c.what;
    EXPECT_EQ(smtp.GetLastErrDescription(), c.description) << c.what;
    EXPECT_EQ(sockets.fired, c.fault != Fault::kNone) << c.what;
    if (c.number == 0) {
      EXPECT_NE(peer.Message().find("Subject: over TLS\r\n"),
                std::string::npos);
    } else {
      EXPECT_EQ(page->Output(), c.description + "<br>") << c.what;
    }
  }
}

}  // namespace
}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
// Penrill's send with the N-th socket call failing, for every N until the
// dialogue completes: each send either fails with a recorded error, its
// socket closed and the socket library ended, or succeeds only when the
// server took the whole message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "frame/MemoryHost.h"
#include "mail/SMTP.h"
#include "net/WSKSOCK.h"
#include "net/tests/FakeSockets.h"
#include "platform/tests/FailNth.h"

namespace corvane::penrill {
namespace {

namespace fs = std::filesystem;
using net::testing::FakeSockets;
using platform::testing::FailNthSocketCall;

TEST(SmtpFaultSweep, EveryFailingSocketCallIsARecordedFailure) {
  fs::path logs = fs::temp_directory_path() /
                  ("penrill-sweep-" + std::to_string(::getpid()));
  fs::create_directories(logs);
  ::setenv("CORVANE_LOG_DIR", logs.c_str(), 1);
  int swept = platform::testing::SweepUntilComplete([&](int n) {
    FakeSockets peer;
    peer.chunks = {"220 ready\r\n",   "250 hello\r\n", "250 sender ok\r\n",
                   "250 rcpt ok\r\n", "354 go\r\n",    "250 queued\r\n",
                   "221 bye\r\n"};
    auto page = MemoryContext::New();
    SMTP smtp;
    smtp.OnStartPage(Variant(page));
    smtp.SMTPServer("127.0.0.1");
    smtp.MailFrom("Sender <from@example.org>");
    smtp.MailTo("Reader <to@example.org>");
    smtp.MailSubject("Hello");
    smtp.MailContent("First line");
    bool sent;
    bool met;
    {
      FailNthSocketCall failing(peer, n);
      platform::ScopedSockets scope(failing);
      sent = smtp.SendMail();
      met = failing.Counter().Failed();
    }
    SCOPED_TRACE("failing call " + std::to_string(n));
    EXPECT_FALSE(net::WinsockStarted());
    if (sent) {
      // Only a fault after the server queued the message may pass.
      EXPECT_NE(peer.Sent().find("\r\n.\r\n"), std::string::npos);
      EXPECT_LE(peer.chunks.size(), 1u);
    } else {
      EXPECT_NE(smtp.GetLastErrNum(), 0);
      EXPECT_FALSE(smtp.GetLastErrDescription().empty());
      if (peer.connects > 0) {
        EXPECT_EQ(peer.closed.size(), 1u);
      }
    }
    return met;
  });
  ::unsetenv("CORVANE_LOG_DIR");
  fs::remove_all(logs);
  EXPECT_GT(swept, 10);
}

}  // namespace
}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
#include "net/modNetwork.h"

#include <gtest/gtest.h>

#include <string>

#include "net/WSKSOCK.h"
#include "net/tests/FakeSockets.h"

namespace corvane::net {
namespace {

using testing::FakeSockets;

TEST(SplitServer, PortFollowsTheLastColon) {
  auto plain = SplitServer("mail.example.org", kSmtpPort);
  EXPECT_EQ(plain.host, "mail.example.org");
  EXPECT_EQ(plain.port, 25);
  auto with_port = SplitServer("127.0.0.1:2525", kSmtpPort);
  EXPECT_EQ(with_port.host, "127.0.0.1");
  EXPECT_EQ(with_port.port, 2525);
  EXPECT_EQ(SplitServer("whois.example:4343", kWhoisPort).port, 4343);
  for (const char* odd : {"host:", "host:0", "host:65536", "host:25x",
                          "host:123456", "host: 25"}) {
    auto whole = SplitServer(odd, kSmtpPort);
    EXPECT_EQ(whole.host, odd);
    EXPECT_EQ(whole.port, 25);
  }
}

TEST(ConnectSocket, UsesTheServicePortAndTheTimeout) {
  FakeSockets peer;
  int32_t socket = CreateSocket();
  EXPECT_EQ(socket, 7);
  EXPECT_TRUE(ConnectSocket(socket, "127.0.0.1", kSmtpPort));
  EXPECT_EQ(peer.connected_port, 25);
  EXPECT_EQ(peer.connect_timeout, kDefaultConnectTimeoutMs);
  EXPECT_TRUE(ConnectSocket(socket, "localhost:43000", kWhoisPort, 1500));
  EXPECT_EQ(peer.connected_port, 43000);
  EXPECT_EQ(peer.connect_timeout, 1500);
  EXPECT_TRUE(ConnectSocket(socket, "localhost", kWhoisPort));
  EXPECT_EQ(peer.connected_port, 43);
}

TEST(ConnectSocket, UnresolvedNameMakesNoAttempt) {
  FakeSockets peer;
  EXPECT_FALSE(ConnectSocket(7, "no..where.invalid", kSmtpPort));
  EXPECT_EQ(peer.connects, 0);
  EXPECT_EQ(GetSocketErrorText(LastSocketError()), "Host not found.");
}

TEST(ConnectSocket, RefusalIsFalseWithItsCode) {
  FakeSockets peer;
  peer.refuse_connect = true;
  EXPECT_FALSE(ConnectSocket(7, "127.0.0.1", kSmtpPort));
  EXPECT_EQ(LastSocketError(), 10061);
}

TEST(SendData, SplitsIntoPiecesOf1998Bytes) {
  struct Case {
    size_t length;
    std::vector<size_t> pieces;
  };
  for (const Case& c : {Case{0, {}}, Case{1998, {1998}}, Case{1999, {1998, 1}},
                        Case{4000, {1998, 1998, 4}}}) {
    FakeSockets peer;
    std::string text(c.length, 'x');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char('a' + i % 26);
    EXPECT_EQ(SendData(7, text), static_cast<int32_t>(c.length));
    std::vector<size_t> sizes;
    for (const auto& piece : peer.sends) sizes.push_back(piece.size());
    EXPECT_EQ(sizes, c.pieces) << c.length;
    EXPECT_EQ(peer.Sent(), text);
  }
}

TEST(SendData, ShortSendStopsWithMinusOne) {
  FakeSockets peer;
  peer.send_limit = 1998;
  EXPECT_EQ(SendData(7, std::string(1998, 'x')), 1998);
  peer.sends.clear();
  peer.send_limit = 1000;
  EXPECT_EQ(SendData(7, std::string(4000, 'x')), -1);
  EXPECT_EQ(peer.sends.size(), 1u) << "nothing more after the short piece";
}

TEST(LastReplyLine, TheFinalLineCarriesTheCode) {
  EXPECT_EQ(LastReplyLine("250-ok\r\n550 no\r\n"), "550 no");
  EXPECT_EQ(GetReplyCode(LastReplyLine("250-ok\r\n550 no\r\n")), 550);
  EXPECT_EQ(LastReplyLine("220 ready\r\n"), "220 ready");
  EXPECT_EQ(LastReplyLine("220 ready"), "220 ready");
  EXPECT_EQ(LastReplyLine("250-a\n250 b\n"), "250 b");
  EXPECT_EQ(LastReplyLine(""), "");
}

TEST(SendData, EverySendIsBoundedByTheTimeout) {
  FakeSockets peer;
  EXPECT_EQ(SendData(7, std::string(4000, 'x')), 4000);
  EXPECT_EQ(SendData(7, "QUIT\r\n", 1500), 6);
  EXPECT_EQ(peer.send_timeouts,
            (std::vector<int>{kDefaultReplyTimeoutMs, kDefaultReplyTimeoutMs,
                              kDefaultReplyTimeoutMs, 1500}));
}

TEST(ReplyComplete, LastLineDecides) {
  EXPECT_TRUE(ReplyComplete("250 OK\r\n"));
  EXPECT_TRUE(ReplyComplete("250\r\n"));
  EXPECT_TRUE(ReplyComplete("250 OK\n"));
  EXPECT_TRUE(ReplyComplete("220-first\r\n220-second\r\n220 last\r\n"));
  EXPECT_FALSE(ReplyComplete(""));
  EXPECT_FALSE(ReplyComplete("250 OK"));
  EXPECT_FALSE(ReplyComplete("250 O"));
  EXPECT_FALSE(ReplyComplete("220-first\r\n"));
  EXPECT_FALSE(ReplyComplete("220-first\r\n220-second\r\n"));
  EXPECT_FALSE(ReplyComplete("\r\n"));
  EXPECT_FALSE(ReplyComplete("25 short\r\n"));
  EXPECT_FALSE(ReplyComplete("2x0 odd\r\n"));
}

TEST(ReceiveReply, SingleLineReplyIsOneReceive) {
  FakeSockets peer;
  peer.chunks = {"220 ready\r\n", "250 next\r\n"};
  EXPECT_EQ(ReceiveReply(7), "220 ready\r\n");
  EXPECT_EQ(peer.receive_timeouts.size(), 1u);
  EXPECT_EQ(LastSocketError(), 0);
}

TEST(ReceiveReply, ReadsUntilTheReplyIsWhole) {
  const std::string reply =
      "220-mail.example.org greets you\r\n220-more\r\n220 ready\r\n";
  for (size_t size = 1; size <= reply.size(); ++size) {
    FakeSockets peer;
    for (size_t at = 0; at < reply.size(); at += size) {
      peer.chunks.push_back(reply.substr(at, size));
    }
    peer.chunks.push_back("250 must stay unread\r\n");
    EXPECT_EQ(ReceiveReply(7), reply) << "pieces of " << size;
  }
}

TEST(ReceiveReply, CloseReturnsWhatArrived) {
  FakeSockets peer;
  peer.chunks = {"421 closing"};
  EXPECT_EQ(ReceiveReply(7), "421 closing");
  EXPECT_EQ(ReceiveReply(7), "");
}

TEST(ReceiveReply, FailuresGiveTheEmptyText) {
  FakeSockets peer;
  peer.chunks = {"220-partial\r\n"};
  peer.final_error = 10060;
  EXPECT_EQ(ReceiveReply(7, 50), "");
  EXPECT_EQ(LastSocketError(), 10060);
  EXPECT_LE(peer.receive_timeouts.front(), 50);
  EXPECT_GT(peer.receive_timeouts.front(), 0);
}

TEST(ReceiveReply, EndlessReplyIsBounded) {
  FakeSockets peer;
  for (int i = 0; i < 20000; ++i) peer.chunks.push_back("250-more\r\n");
  EXPECT_EQ(ReceiveReply(7), "");
  EXPECT_EQ(LastSocketError(), 10040);
  EXPECT_FALSE(peer.chunks.empty()) << "stopped at the bound";
}

TEST(ReceiveAll, JoinsEverythingUntilTheClose) {
  FakeSockets peer;
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    std::string chunk(37 + i * 40, char('A' + i % 26));
    peer.chunks.push_back(chunk);
    expected += chunk;
  }
  EXPECT_EQ(ReceiveAll(7), expected);
  EXPECT_EQ(LastSocketError(), 0);
  for (int timeout : peer.receive_timeouts) EXPECT_EQ(timeout, 0);
}

TEST(ReceiveAll, FaultBeforeTheCloseGivesNothing) {
  FakeSockets peer;
  peer.chunks = {"domain: example\r\n"};
  peer.final_error = 10054;
  EXPECT_EQ(ReceiveAll(7), "");
  EXPECT_EQ(LastSocketError(), 10054);
}

TEST(ReceiveAll, LimitsEndTheAnswerAsAFailure) {
  FakeSockets peer;
  for (int i = 0; i < 10; ++i) peer.chunks.push_back(std::string(1024, 'x'));
  EXPECT_EQ(ReceiveAll(7, {.max_bytes = 4096, .timeout_ms = 0}), "");
  EXPECT_EQ(LastSocketError(), 10040);

  FakeSockets exact;
  for (int i = 0; i < 4; ++i) exact.chunks.push_back(std::string(1024, 'x'));
  EXPECT_EQ(ReceiveAll(7, {.max_bytes = 4096, .timeout_ms = 0}).size(), 4096u);

  FakeSockets slow;
  slow.chunks = {"partial"};
  slow.final_error = 10060;
  EXPECT_EQ(ReceiveAll(7, {.max_bytes = 0, .timeout_ms = 100}), "");
  EXPECT_EQ(GetSocketErrorText(LastSocketError()), "Connection timed out.");
  EXPECT_GT(slow.receive_timeouts.front(), 0);
}

TEST(GetReplyCode, FirstThreeDigits) {
  EXPECT_EQ(GetReplyCode("220 ready\r\n"), 220);
  EXPECT_EQ(GetReplyCode("250-first line\r\n"), 250);
  EXPECT_EQ(GetReplyCode("354 go ahead"), 354);
  EXPECT_EQ(GetReplyCode("25"), 25);
  EXPECT_EQ(GetReplyCode(""), -1);
  EXPECT_EQ(GetReplyCode("OK 250"), -1);
  EXPECT_EQ(GetReplyCode("2a0 odd"), -1);
  EXPECT_EQ(GetReplyCode(" 250"), -1);
}

TEST(CloseSocket, OnlyHandlesAboveZero) {
  FakeSockets peer;
  CloseSocket(-1);
  CloseSocket(0);
  EXPECT_TRUE(peer.closed.empty());
  CloseSocket(7);
  EXPECT_EQ(peer.closed, std::vector<int32_t>{7});
}

}  // namespace
}  // namespace corvane::net

// SPDX-License-Identifier: Apache-2.0
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace corvane::platform {
namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

// A listening loopback socket that accepts but never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = kLoopback;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_;
};

// A port with nothing listening on it.
uint16_t ClosedPort() {
  SilentServer server;
  return server.port();
}

TEST(Sockets, ConnectRefusedIs10061) {
  uint16_t port = ClosedPort();
  int32_t s = Network().Create();
  ASSERT_GT(s, 0);
  EXPECT_FALSE(Network().Connect(s, kLoopback, port, 2000));
  EXPECT_EQ(Network().LastError(), 10061);
  Network().Close(s);
}

TEST(Sockets, UnresolvableNameIs11001) {
  // A name the resolver refuses itself, so no query leaves the machine.
  EXPECT_EQ(Network().Lookup("no..where.invalid"), Sockets::kNoAddress);
  EXPECT_EQ(Network().LastError(), 11001);
  EXPECT_EQ(Network().ParseAddress("127.0.0.1"), kLoopback);
  EXPECT_EQ(Network().ParseAddress("localhost"), Sockets::kNoAddress);
  EXPECT_EQ(Network().Lookup("localhost"), kLoopback);
}

TEST(Sockets, ReceiveTimeOutIs10060) {
  SilentServer server;
  int32_t s = Network().Create();
  ASSERT_TRUE(Network().Connect(s, kLoopback, server.port(), 2000));
  char buffer[16];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Network().Receive(s, buffer, sizeof buffer, 200), -1);
  EXPECT_EQ(Network().LastError(), 10060);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(150));
  Network().Close(s);
}

TEST(Sockets, SendToAPeerThatStopsReadingTimesOutWith10060) {
  SilentServer server;
  int32_t s = Network().Create();
  ASSERT_TRUE(Network().Connect(s, kLoopback, server.port(), 2000));
  // The peer never reads: once both socket buffers are full, a send waits
  // for room that never comes, until its time-out.
  const std::string chunk(1 << 20, 'x');
  int32_t sent = 0;
  int sends = 0;
  auto start = std::chrono::steady_clock::now();
  for (; sends < 512 && sent >= 0; ++sends) {
    sent = Network().Send(s, chunk.data(), static_cast<int32_t>(chunk.size()),
                          100);
  }
  EXPECT_EQ(sent, -1) << "still accepting after " << sends << " MB";
  EXPECT_EQ(Network().LastError(), 10060);
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(80));
  Network().Close(s);
}

TEST(Sockets, SendToAClosedPeerIsAnErrorNotASignal) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ::close(pair[1]);
  EXPECT_EQ(Network().Send(pair[0], "x", 1), -1);
  EXPECT_EQ(Network().LastError(), 10054);
  ::close(pair[0]);
}

TEST(Sockets, ErrnoAndResolverTables) {
  EXPECT_EQ(SocketErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(SocketErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(SocketErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(SocketErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(SocketErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(SocketErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(SocketErrorFromResolver(EAI_NONAME), 11001);
  EXPECT_EQ(SocketErrorFromResolver(EAI_AGAIN), 11002);
  EXPECT_EQ(SocketErrorFromResolver(EAI_FAIL), 11003);
}

}  // namespace
}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "web/Connections.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "platform/ServerSocket.h"

namespace corvane::web {
namespace {

using std::chrono::milliseconds;

// A client end of a connection the console side has accepted.
class Client {
 public:
  explicit Client(Connections& connections) {
    int ends[2];
    EXPECT_TRUE(platform::SocketPair(ends));
    socket_ = ends[0];
    connections.Accept(ends[1]);
  }
  ~Client() { platform::CloseSocket(socket_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Send(std::string_view text) {
    EXPECT_TRUE(platform::WriteSocket(socket_, text.data(), text.size(), 1000));
  }
  // Sends `text`, then what Lines gives.
  std::string Ask(std::string_view text, size_t count) {
    Send(text);
    return Lines(count);
  }
  // What arrives until `count` lines have or the console ends the
  // connection; "<end>" appended on an end, "<late>" after 5 s.
  std::string Lines(size_t count) {
    std::string text;
    while (std::ranges::count(text, '\n') < static_cast<ptrdiff_t>(count)) {
      char piece[256];
      auto read = platform::ReadSocket(socket_, piece, sizeof piece, 5000);
      if (read.outcome == platform::SocketRead::kNothing)
        return text + "<late>";
      if (read.outcome != platform::SocketRead::kBytes) return text + "<end>";
      text.append(piece, read.count);
    }
    return text;
  }

 private:
  int socket_ = -1;
};

// Serves a head "VERB /path\r\n\r\n" with "VERB /path <requests>\n"; a
// path "/close" ends the connection, a verb "WAIT" blocks until `release`.
class ConnectionsTest : public ::testing::Test {
 protected:
  void Begin(ConnectionLimits limits) {
    connections_ = std::make_unique<Connections>(
        limits, [this](Connection& c) { return Serve(c); },
        [](int status, const std::string&) {
          return "refused " + std::to_string(status) + "\n";
        },
        [](std::string_view head) { return head.starts_with("WAIT "); });
    connections_->Start();
  }
  ConnectionLimits Small() {
    ConnectionLimits limits;
    limits.workers = 1;
    limits.waiting_workers = 1;
    limits.head_time = milliseconds(300);
    limits.idle_time = milliseconds(300);
    limits.head = HeadLimits{/*max_line=*/40, /*max_fields=*/3,
                             /*max_bytes=*/120};
    return limits;
  }

  bool Serve(Connection& c) {
    size_t end = c.buffer.find("\r\n\r\n");
    std::string line = c.buffer.substr(0, c.buffer.find("\r\n"));
    c.used = end + 4;
    if (line.starts_with("WAIT ")) release_.get_future().wait();
    if (line.starts_with("SLOW "))
      std::this_thread::sleep_for(milliseconds(800));
    std::string answer = line + " " + std::to_string(c.requests) + "\n";
    (void)platform::WriteSocket(c.socket, answer.data(), answer.size(), 1000);
    return line.find("/close") == std::string::npos;
  }

  std::promise<void> release_;
  std::unique_ptr<Connections> connections_;
};

TEST_F(ConnectionsTest, ServesHeadsWholeInOrderWhateverTheirPieces) {
  Begin(Small());
  Client pipelined(*connections_);
  EXPECT_EQ(pipelined.Ask("GET /a\r\n\r\nGET /b\r\n\r\nGET /c\r\n\r\n", 3),
            "GET /a 0\nGET /b 1\nGET /c 2\n");
  // A slow head holds no worker: the other connection is served meanwhile.
  Client slow(*connections_);
  slow.Send("GET /s");
  Client quick(*connections_);
  EXPECT_EQ(quick.Ask("GET /q\r\n\r\n", 1), "GET /q 0\n");
  EXPECT_EQ(slow.Ask("low\r\n\r\nGET /close\r\n", 1), "GET /slow 0\n");
  EXPECT_EQ(slow.Ask("\r\n", 2), "GET /close 1\n<end>");
}

TEST_F(ConnectionsTest, RefusesHeadsPastTheirBoundsAndEndsIdleConnections) {
  Begin(Small());
  Client fields(*connections_);
  EXPECT_EQ(fields.Ask("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n", 1),
            "refused 431\n");
  Client line(*connections_);
  EXPECT_EQ(line.Ask("GET /" + std::string(60, 'x'), 1), "refused 414\n");
  // A kept-alive connection's next head has the same bounds.
  Client next(*connections_);
  EXPECT_EQ(next.Ask("GET /a\r\n\r\nGET /" + std::string(60, 'x'), 2),
            "GET /a 0\nrefused 414\n");
  // Too slow a head, and an idle connection, are ended by the sweep.
  Client slow(*connections_);
  EXPECT_EQ(slow.Ask("GET /slow", 2), "refused 408\n<end>");
  Client idle(*connections_);
  EXPECT_EQ(idle.Ask("GET /a\r\n\r\n", 2), "GET /a 0\n<end>");
}

TEST_F(ConnectionsTest, AHeadThatCameWhileEveryWorkerWasBusyIsServed) {
  Begin(Small());
  Client kept(*connections_);
  EXPECT_EQ(kept.Ask("GET /a\r\n\r\n", 1), "GET /a 0\n");
  Client busy(*connections_);
  busy.Send("SLOW /b\r\n\r\n");
  std::this_thread::sleep_for(milliseconds(50));
  // Its idle time runs out while the one worker is busy: not an idle client.
  EXPECT_EQ(kept.Ask("GET /c\r\n\r\n", 1), "GET /c 1\n");
  EXPECT_EQ(busy.Lines(1), "SLOW /b 0\n");
}

TEST_F(ConnectionsTest, RefusesConnectionsPastTheWaitingBound) {
  auto limits = Small();
  limits.head_time = milliseconds(5000);
  limits.max_waiting = 2;
  Begin(limits);
  Client first(*connections_);
  Client second(*connections_);
  Client third(*connections_);
  EXPECT_EQ(third.Lines(2), "refused 503\n<end>");
  EXPECT_EQ(first.Ask("GET /a\r\n\r\n", 1), "GET /a 0\n");
}

TEST_F(ConnectionsTest, RequestsThatWaitLeaveTheOtherPagesServed) {
  Begin(Small());
  Client waiting(*connections_);
  waiting.Send("WAIT /mail\r\n\r\nGET /after\r\n\r\n");
  Client page(*connections_);
  EXPECT_EQ(page.Ask("GET /page\r\n\r\n", 1), "GET /page 0\n");
  release_.set_value();
  EXPECT_EQ(waiting.Lines(2), "WAIT /mail 0\nGET /after 1\n");
}

TEST_F(ConnectionsTest, StopServesWholeHeadsAndClosesTheRest) {
  Begin(Small());
  Client served(*connections_);
  served.Send("WAIT /mail\r\n\r\n");
  Client idle(*connections_);
  Client partial(*connections_);
  partial.Send("GET /part");
  // Give the worker time to take the waiting request before the stop.
  std::this_thread::sleep_for(milliseconds(100));
  auto stopped = std::async(std::launch::async, [&] { connections_->Stop(); });
  std::this_thread::sleep_for(milliseconds(100));
  release_.set_value();
  stopped.get();
  EXPECT_EQ(served.Lines(2), "WAIT /mail 0\n<end>");
  EXPECT_EQ(idle.Lines(1), "<end>");
  EXPECT_EQ(partial.Lines(1), "<end>");
  Client late(*connections_);
  EXPECT_EQ(late.Lines(1), "<end>");
}

// Each answer's client asks again at once, so that the next request often
// comes while its connection is being armed to wait again: that wake-up
// must not be lost.
TEST_F(ConnectionsTest, KeptAliveRequestsAtOnceOnManyWorkersAreEachServed) {
  ConnectionLimits limits;
  limits.workers = 4;
  Begin(limits);
  constexpr int kClients = 8;
  constexpr int kRounds = 300;
  std::vector<std::future<int>> served;
  for (int c = 0; c < kClients; ++c) {
    served.push_back(std::async(std::launch::async, [&] {
      Client client(*connections_);
      for (int n = 0; n < kRounds; ++n) {
        std::string want = "GET /n " + std::to_string(n) + "\n";
        if (client.Ask("GET /n\r\n\r\n", 1) != want) return n;
      }
      return kRounds;
    }));
  }
  for (auto& rounds : served) EXPECT_EQ(rounds.get(), kRounds);
}

}  // namespace
}  // namespace corvane::web

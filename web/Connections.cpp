// SPDX-License-Identifier: Apache-2.0
#include "web/Connections.h"

#include <algorithm>

namespace corvane::web {
namespace {

// How much a connection reads at a time while its head arrives.
constexpr size_t kReadPiece = 16 * 1024;
// A refused connection's input is read and dropped for a moment before it
// is closed, so that the refusal is not lost to a reset; a bounded amount.
constexpr auto kDrainTime = std::chrono::milliseconds(2000);
constexpr size_t kMaxDrained = 4 * 1024 * 1024;

}  // namespace

Connections::Connections(ConnectionLimits limits, Serve serve, Refusal refusal,
                         Waits waits)
    : limits_(limits),
      serve_(std::move(serve)),
      refusal_(std::move(refusal)),
      waits_(std::move(waits)) {}

Connections::~Connections() { Stop(); }

void Connections::Start() {
  std::lock_guard lock(mutex_);
  if (started_) return;
  started_ = true;
  reader_ = std::thread([this] { ReadHeads(); });
  for (size_t n = 0; n < std::max<size_t>(limits_.workers, 1); ++n) {
    workers_.emplace_back([this] { Work(0); });
  }
  for (size_t n = 0; n < std::max<size_t>(limits_.waiting_workers, 1); ++n) {
    workers_.emplace_back([this] { Work(1); });
  }
}

void Connections::Accept(int socket) {
  platform::CloseOnExec(socket);
  auto connection = std::make_unique<Connection>();
  connection->socket = socket;
  connection->scanner = HeadScanner(limits_.head);
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      incoming_.push_back(std::move(connection));
      connection = nullptr;
    }
  }
  if (connection) {
    platform::CloseSocket(socket);
    return;
  }
  poll_.Wake();
}

void Connections::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  poll_.Wake();
  if (reader_.joinable()) reader_.join();
  {
    std::lock_guard lock(mutex_);
    workers_end_ = true;
  }
  for (auto& signal : ready_signal_) signal.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  std::lock_guard lock(mutex_);
  for (auto& connection : incoming_) platform::CloseSocket(connection->socket);
  incoming_.clear();
}

Connections::Next Connections::RefuseHead(Connection& connection, int status,
                                          const std::string& reason) {
  std::string answer = refusal_(status, reason);
  // The socket's send buffer is empty; a client that does not read even
  // this much is not waited for.
  (void)platform::WriteSocket(connection.socket, answer.data(), answer.size(),
                              0);
  platform::EndWriting(connection.socket);
  connection.draining = true;
  connection.buffer.clear();
  connection.buffer.shrink_to_fit();
  connection.deadline = ConnectionClock::now() + kDrainTime;
  return Next::kWait;
}

Connections::Next Connections::Decide(Connection& connection) {
  HeadScan scan = connection.scanner.Scan(connection.buffer);
  if (scan.state == HeadScan::kComplete) return Next::kServe;
  if (scan.state == HeadScan::kRefused) {
    return RefuseHead(connection, scan.status, scan.reason);
  }
  return Next::kWait;
}

Connections::Next Connections::ReadFrom(Connection& connection) {
  char piece[kReadPiece];
  auto read = platform::ReadSocket(connection.socket, piece, sizeof piece, 0);
  if (read.outcome == platform::SocketRead::kNothing) return Next::kWait;
  if (read.outcome != platform::SocketRead::kBytes) return Next::kClose;
  if (connection.draining) {
    connection.drained += read.count;
    return connection.drained > kMaxDrained ? Next::kClose : Next::kWait;
  }
  if (!connection.head_started) {
    connection.head_started = true;
    connection.deadline = ConnectionClock::now() + limits_.head_time;
  }
  connection.buffer.append(piece, read.count);
  return Decide(connection);
}

Connections::Next Connections::Expire(Connection& connection) {
  if (connection.draining || !connection.head_started) return Next::kClose;
  return RefuseHead(connection, 408,
                    "The request head did not arrive in time.");
}

void Connections::ReadHeads() {
  std::vector<std::unique_ptr<Connection>> waiting;
  auto act = [&](size_t index, Next next) {
    if (next == Next::kWait) return;
    auto connection = std::move(waiting[index]);
    if (next == Next::kClose) {
      platform::CloseSocket(connection->socket);
      return;
    }
    size_t lane = waits_(connection->buffer) ? 1 : 0;
    QueueReady(std::move(connection), lane);
  };
  auto forget_gone = [&] {
    std::erase_if(waiting, [](const auto& connection) { return !connection; });
  };
  for (;;) {
    std::deque<std::unique_ptr<Connection>> arrived;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      arrived.swap(incoming_);
    }
    auto now = ConnectionClock::now();
    for (auto& connection : arrived) {
      if (waiting.size() >= limits_.max_waiting) {
        std::string answer =
            refusal_(503, "The console has too many open connections.");
        (void)platform::WriteSocket(connection->socket, answer.data(),
                                    answer.size(), 0);
        platform::CloseSocket(connection->socket);
        continue;
      }
      // A kept-alive connection may hold the start of its next request.
      connection->buffer.erase(0, connection->used);
      connection->used = 0;
      connection->scanner.Reset();
      connection->head_started = !connection->buffer.empty();
      connection->deadline =
          now + (connection->head_started   ? limits_.head_time
                 : connection->requests > 0 ? limits_.idle_time
                                            : limits_.head_time);
      waiting.push_back(std::move(connection));
      size_t index = waiting.size() - 1;
      if (waiting[index]->head_started) act(index, Decide(*waiting[index]));
    }
    forget_gone();

    std::vector<int> sockets;
    auto soonest = ConnectionClock::time_point::max();
    for (const auto& connection : waiting) {
      sockets.push_back(connection->socket);
      soonest = std::min(soonest, connection->deadline);
    }
    int timeout = -1;
    if (!waiting.empty()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          soonest - ConnectionClock::now());
      timeout =
          static_cast<int>(std::clamp<int64_t>(left.count() + 1, 0, 60 * 1000));
    }
    for (size_t index : poll_.Wait(sockets, timeout)) {
      act(index, ReadFrom(*waiting[index]));
    }
    now = ConnectionClock::now();
    for (size_t index = 0; index < waiting.size(); ++index) {
      if (waiting[index] && waiting[index]->deadline <= now) {
        act(index, Expire(*waiting[index]));
      }
    }
    forget_gone();
  }
  for (auto& connection : waiting) platform::CloseSocket(connection->socket);
}

void Connections::QueueReady(std::unique_ptr<Connection> connection,
                             size_t lane) {
  {
    std::lock_guard lock(mutex_);
    if (!workers_end_) {
      ready_[lane].push_back(std::move(connection));
      connection = nullptr;
    }
  }
  if (connection) {
    platform::CloseSocket(connection->socket);
    return;
  }
  ready_signal_[lane].notify_one();
}

void Connections::GiveBack(std::unique_ptr<Connection> connection) {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      incoming_.push_back(std::move(connection));
      connection = nullptr;
    }
  }
  if (connection) {
    platform::CloseSocket(connection->socket);
    return;
  }
  poll_.Wake();
}

std::unique_ptr<Connection> Connections::KeepServing(
    std::unique_ptr<Connection> connection, size_t lane) {
  Connection& next = *connection;
  next.buffer.erase(0, next.used);
  next.used = 0;
  next.scanner.Reset();
  auto linger_end = ConnectionClock::now() + limits_.linger;
  for (;;) {
    HeadScan scan = next.scanner.Scan(next.buffer);
    if (scan.state == HeadScan::kComplete) {
      size_t next_lane = waits_(next.buffer) ? 1 : 0;
      bool others_wait = false;
      {
        std::lock_guard lock(mutex_);
        others_wait = !ready_[next_lane].empty();
      }
      // Behind the connections already waiting, not before them.
      if (next_lane == lane && !others_wait) return connection;
      QueueReady(std::move(connection), next_lane);
      return nullptr;
    }
    // A refused head is answered by the reader, as when it arrives there.
    if (scan.state == HeadScan::kRefused) break;
    char piece[kReadPiece];
    auto read = platform::ReadSocket(next.socket, piece, sizeof piece, 0);
    if (read.outcome == platform::SocketRead::kNothing) {
      {
        std::lock_guard lock(mutex_);
        if (stopping_ || !ready_[lane].empty()) break;
      }
      auto left = std::chrono::ceil<std::chrono::milliseconds>(
          linger_end - ConnectionClock::now());
      if (left.count() <= 0) break;
      read = platform::ReadSocket(next.socket, piece, sizeof piece,
                                  static_cast<int>(left.count()));
    }
    if (read.outcome == platform::SocketRead::kNothing) break;
    if (read.outcome != platform::SocketRead::kBytes) {
      platform::CloseSocket(next.socket);
      return nullptr;
    }
    next.buffer.append(piece, read.count);
  }
  GiveBack(std::move(connection));
  return nullptr;
}

void Connections::Work(size_t lane) {
  auto& ready = ready_[lane];
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      std::unique_lock lock(mutex_);
      ready_signal_[lane].wait(lock,
                               [&] { return !ready.empty() || workers_end_; });
      if (ready.empty()) return;
      connection = std::move(ready.front());
      ready.pop_front();
    }
    while (connection) {
      bool again = false;
      try {
        again = serve_(*connection);
      } catch (...) {
        again = false;
      }
      ++connection->requests;
      if (again) {
        connection = KeepServing(std::move(connection), lane);
      } else {
        platform::CloseSocket(connection->socket);
        connection = nullptr;
      }
    }
  }
}

}  // namespace corvane::web

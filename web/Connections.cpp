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
// How often the sweep looks for connections whose time ran out.
constexpr auto kSweepPeriod = std::chrono::milliseconds(100);

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
  sweeper_ = std::thread([this] { Sweep(); });
  for (size_t n = 0; n < std::max<size_t>(limits_.workers, 1); ++n) {
    workers_.emplace_back([this] { Work(); });
  }
  for (size_t n = 0; n < std::max<size_t>(limits_.waiting_workers, 1); ++n) {
    waiting_workers_.emplace_back([this] { WorkWaiting(); });
  }
}

void Connections::Accept(int socket) {
  platform::CloseOnExec(socket);
  auto connection = std::make_unique<Connection>();
  connection->socket = socket;
  connection->scanner = HeadScanner(limits_.head);
  connection->deadline = ConnectionClock::now() + limits_.head_time;
  bool crowded = false;
  {
    std::lock_guard lock(mutex_);
    crowded = waiting_ >= limits_.max_waiting;
    if (!stopping_ && !crowded) {
      uint64_t key = ++last_key_;
      // Entered before it is armed: a worker may take it at once.
      open_[key] = Entry{std::move(connection), Holder::kWaiting};
      ++waiting_;
      if (events_.Add(socket, key)) return;
      --waiting_;
      open_.erase(key);
    }
  }
  if (crowded) {
    std::string answer =
        refusal_(503, "The console has too many open connections.");
    (void)platform::WriteSocket(socket, answer.data(), answer.size(), 0);
  }
  platform::CloseSocket(socket);
}

void Connections::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  events_.Wake();
  sweep_signal_.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
  if (sweeper_.joinable()) sweeper_.join();
  // Only now: the workers above may still queue a request that waits.
  {
    std::lock_guard lock(mutex_);
    waiting_workers_end_ = true;
  }
  queued_signal_.notify_all();
  for (auto& worker : waiting_workers_) worker.join();
  waiting_workers_.clear();
  std::lock_guard lock(mutex_);
  for (auto& [key, entry] : open_) {
    platform::CloseSocket(entry.connection->socket);
  }
  open_.clear();
  waiting_ = 0;
}

Connection* Connections::Take(uint64_t key, Holder holder) {
  std::lock_guard lock(mutex_);
  auto found = open_.find(key);
  if (found == open_.end()) return nullptr;
  Entry& entry = found->second;
  // Its releaser arms it again once this wake-up is known.
  if (entry.holder == Holder::kArming) entry.woken = true;
  // A wake-up can come late, for a connection the sweep took meanwhile.
  if (entry.holder != Holder::kWaiting) return nullptr;
  entry.holder = holder;
  --waiting_;
  return entry.connection.get();
}

bool Connections::Arm(std::unique_lock<std::mutex>& lock, uint64_t key,
                      Entry& entry) {
  // Armed outside the lock, so that no worker waits for this system call:
  // while it is made, the connection is neither the sweep's (which could
  // close its socket) nor a woken worker's.
  entry.holder = Holder::kArming;
  // A worker woken meanwhile let the wake-up go: armed once more, it comes
  // again while the input waits.
  do {
    entry.woken = false;
    lock.unlock();
    bool armed = events_.Arm(entry.connection->socket, key);
    lock.lock();
    // The entry stays where it was: only its holder removes it.
    if (!armed) return false;
  } while (entry.woken);
  entry.holder = Holder::kWaiting;
  ++waiting_;
  return true;
}

void Connections::Release(uint64_t key, Next next) {
  std::unique_ptr<Connection> closed;
  {
    std::unique_lock lock(mutex_);
    auto found = open_.find(key);
    Entry& entry = found->second;
    if (next == Next::kWait && !stopping_) {
      if (Arm(lock, key, entry)) return;
      found = open_.find(key);
    } else if (next == Next::kServe && !waiting_workers_end_) {
      entry.holder = Holder::kQueue;
      queued_.push_back(key);
      queued_signal_.notify_one();
      return;
    }
    closed = std::move(entry.connection);
    open_.erase(found);
  }
  platform::CloseSocket(closed->socket);
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
  for (;;) {
    char piece[kReadPiece];
    auto read = platform::ReadSocket(connection.socket, piece, sizeof piece, 0);
    if (read.outcome == platform::SocketRead::kNothing) return Next::kWait;
    if (read.outcome != platform::SocketRead::kBytes) return Next::kClose;
    if (connection.draining) {
      connection.drained += read.count;
      if (connection.drained > kMaxDrained) return Next::kClose;
    } else {
      if (!connection.head_started) {
        connection.head_started = true;
        connection.deadline = ConnectionClock::now() + limits_.head_time;
      }
      connection.buffer.append(piece, read.count);
      Next next = Decide(connection);
      if (next == Next::kServe) return Next::kServe;
      // A head still short of its end after its time is refused here too:
      // the sweep spares a connection whose input waits unread.
      if (!connection.draining &&
          ConnectionClock::now() > connection.deadline) {
        return Expire(connection);
      }
    }
    // A short read took all there was; the socket is armed again for more.
    if (read.count < sizeof piece) return Next::kWait;
  }
}

Connections::Next Connections::Expire(Connection& connection) {
  if (connection.draining || !connection.head_started) return Next::kClose;
  return RefuseHead(connection, 408,
                    "The request head did not arrive in time.");
}

void Connections::ServeHeld(uint64_t key, Connection& connection, size_t lane) {
  for (;;) {
    if (lane == 0 && waits_(connection.buffer)) {
      Release(key, Next::kServe);
      return;
    }
    bool again = false;
    try {
      again = serve_(connection);
    } catch (...) {
      again = false;
    }
    ++connection.requests;
    if (!again) {
      Release(key, Next::kClose);
      return;
    }
    // The next request may have come with this one: served at once.
    connection.buffer.erase(0, connection.used);
    connection.used = 0;
    connection.scanner.Reset();
    connection.head_started = !connection.buffer.empty();
    connection.deadline =
        ConnectionClock::now() +
        (connection.head_started ? limits_.head_time : limits_.idle_time);
    Next next = connection.head_started ? Decide(connection) : Next::kWait;
    if (next != Next::kServe) {
      Release(key, next);
      return;
    }
  }
}

void Connections::Work() {
  for (;;) {
    auto key = events_.Wait(-1);
    if (!key) continue;
    if (*key == platform::SocketEvents::kWoken) return;
    Connection* connection = Take(*key, Holder::kWorker);
    if (!connection) continue;
    Next next = ReadFrom(*connection);
    if (next == Next::kServe) {
      ServeHeld(*key, *connection, 0);
    } else {
      Release(*key, next);
    }
  }
}

void Connections::WorkWaiting() {
  for (;;) {
    uint64_t key = 0;
    Connection* connection = nullptr;
    {
      std::unique_lock lock(mutex_);
      queued_signal_.wait(
          lock, [&] { return !queued_.empty() || waiting_workers_end_; });
      if (queued_.empty()) return;
      key = queued_.front();
      queued_.pop_front();
      Entry& entry = open_.at(key);
      entry.holder = Holder::kWorker;
      connection = entry.connection.get();
    }
    ServeHeld(key, *connection, 1);
  }
}

void Connections::Sweep() {
  std::unique_lock lock(mutex_);
  for (;;) {
    sweep_signal_.wait_for(lock, kSweepPeriod, [&] { return stopping_; });
    if (stopping_) return;
    auto now = ConnectionClock::now();
    std::vector<std::pair<uint64_t, Connection*>> expired;
    for (auto& [key, entry] : open_) {
      // Only a connection waiting in the set: its holder set its deadline
      // before it let go of it.
      // Nor one whose input has come but waits unread because every
      // worker was busy: it is neither idle nor slow.
      if (entry.holder == Holder::kWaiting &&
          entry.connection->deadline <= now &&
          (entry.connection->draining ||
           !platform::WaitReadable(entry.connection->socket, 0))) {
        entry.holder = Holder::kSweep;
        --waiting_;
        expired.emplace_back(key, entry.connection.get());
      }
    }
    if (expired.empty()) continue;
    lock.unlock();
    for (auto [key, connection] : expired) Release(key, Expire(*connection));
    lock.lock();
  }
}

}  // namespace corvane::web

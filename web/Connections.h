// SPDX-License-Identifier: Apache-2.0
// The console's connections: one thread reads the request heads of every
// connection at once, bounded in size, count and time, and a pool of
// workers serves only connections whose head has arrived whole. An idle or
// slow client therefore holds no worker, and a head that grows past its
// bounds is refused while it arrives. Requests that wait on other servers
// (mail, whois) have workers of their own, so that however long they wait,
// the other pages are served. A worker serves the next request of its
// kept-alive connection itself when no other connection waits for a worker
// and that head is there or arrives within a moment (`linger`), so that a
// busy connection does not cross between threads for every request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/ServerSocket.h"
#include "web/RequestHead.h"

namespace corvane::web {

using ConnectionClock = std::chrono::steady_clock;

// An accepted connection. For a worker, `buffer` starts with a whole
// request head; `used` counts the bytes of it that are spent.
struct Connection {
  int socket = -1;
  std::string buffer;
  size_t used = 0;
  size_t requests = 0;  // served on this connection so far
  // The two ends' addresses, asked of the system once.
  bool addresses_known = false;
  std::string peer_address;
  std::string local_address;
  int peer_port = 0;
  int local_port = 0;

  // The reader's state: the head being scanned and when the wait ends.
  HeadScanner scanner;
  ConnectionClock::time_point deadline;
  bool head_started = false;
  bool draining = false;  // refused: the rest of its input is discarded
  size_t drained = 0;
};

struct ConnectionLimits {
  size_t workers = 2;
  // Workers for the requests that wait on other servers.
  size_t waiting_workers = 2;
  // From a head's first byte to its blank line.
  std::chrono::milliseconds head_time{10000};
  // A connection without a request in progress is closed after this.
  std::chrono::milliseconds idle_time{5000};
  // Connections waiting for a head at once; further ones get 503.
  size_t max_waiting = 512;
  // How long a worker waits for the next head of its connection, while no
  // other connection waits, before it hands the connection to the reader;
  // zero: it hands it over at once unless the head is already there.
  std::chrono::microseconds linger{2000};
  HeadLimits head;
};

class Connections {
 public:
  // Serves the request whose head starts the connection's buffer; true
  // when the connection may carry another request (its buffer then holds
  // only what was read beyond the request, from `used` on).
  using Serve = std::function<bool(Connection&)>;
  // The whole HTTP answer of a refusal by the reader (status, reason).
  using Refusal = std::function<std::string(int, const std::string&)>;
  // Whether the request of a whole head waits on other servers.
  using Waits = std::function<bool(std::string_view head)>;

  Connections(ConnectionLimits limits, Serve serve, Refusal refusal,
              Waits waits);
  ~Connections();
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;

  // Starts the reader and the workers. Throws Failure when it cannot.
  void Start();
  // Takes an accepted socket over; closed at once after Stop.
  void Accept(int socket);
  // Closes the connections waiting for a head; the requests whose head
  // has arrived are served first. Returns once every worker has ended.
  void Stop();

 private:
  void ReadHeads();
  void Work(size_t lane);
  // What the reader does next with a connection.
  enum class Next { kWait, kServe, kClose };
  // Reads what the connection has (reader thread).
  Next ReadFrom(Connection& connection);
  // Scans the buffered bytes: a whole head is served, a head past its
  // bounds refused.
  Next Decide(Connection& connection);
  Next RefuseHead(Connection& connection, int status,
                  const std::string& reason);
  // What a passed deadline does to the connection.
  Next Expire(Connection& connection);
  // After a request on `lane` that left the connection open: the
  // connection when this worker serves its next request now; else null,
  // the connection queued for the workers or the reader, or closed.
  std::unique_ptr<Connection> KeepServing(
      std::unique_ptr<Connection> connection, size_t lane);
  // Queues a connection whose whole head is there for the workers of
  // `lane`; closes it when the workers have ended.
  void QueueReady(std::unique_ptr<Connection> connection, size_t lane);
  // Gives a kept-alive connection back to the reader; closes it after Stop.
  void GiveBack(std::unique_ptr<Connection> connection);

  ConnectionLimits limits_;
  Serve serve_;
  Refusal refusal_;
  Waits waits_;
  platform::SocketPoll poll_;

  std::mutex mutex_;
  bool stopping_ = false;
  bool started_ = false;
  // New and kept-alive connections for the reader.
  std::deque<std::unique_ptr<Connection>> incoming_;
  // Connections with a whole head, for the workers of each lane: the
  // other pages, and the requests that wait on other servers.
  static constexpr size_t kLanes = 2;
  std::deque<std::unique_ptr<Connection>> ready_[kLanes];
  bool workers_end_ = false;
  std::condition_variable ready_signal_[kLanes];

  std::thread reader_;
  std::vector<std::thread> workers_;
};

}  // namespace corvane::web

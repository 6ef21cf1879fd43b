// SPDX-License-Identifier: Apache-2.0
// The console's connections: the workers wait on every connection at once,
// one shared set of sockets, each socket handed to one worker at a time. A
// worker reads what a connection has and scans its request head, bounded
// in size, count and time; a whole head it serves on the spot, an
// incomplete one it leaves to wait again, so an idle or slow client holds
// no worker, and a head that grows past its bounds is refused while it
// arrives. Requests that wait on other servers (mail, whois) go to workers
// of their own, so that however long they wait, the other pages are
// served. A connection is held by one party at a time: waiting in the set,
// a worker, the queue of those workers, or the sweep that ends
// connections whose time ran out.
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
#include <unordered_map>
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

  // While the head arrives: the head being scanned and when the wait ends.
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
  HeadLimits head;
};

class Connections {
 public:
  // Serves the request whose head starts the connection's buffer; true
  // when the connection may carry another request (its buffer then holds
  // only what was read beyond the request, from `used` on).
  using Serve = std::function<bool(Connection&)>;
  // The whole HTTP answer refusing a head or a connection (status, reason).
  using Refusal = std::function<std::string(int, const std::string&)>;
  // Whether the request of a whole head waits on other servers.
  using Waits = std::function<bool(std::string_view head)>;

  Connections(ConnectionLimits limits, Serve serve, Refusal refusal,
              Waits waits);
  ~Connections();
  Connections(const Connections&) = delete;
  Connections& operator=(const Connections&) = delete;

  // Starts the workers and the sweep. Throws Failure when it cannot.
  void Start();
  // Takes an accepted socket over; closed at once after Stop.
  void Accept(int socket);
  // Closes the connections waiting for a head; the requests whose head
  // has arrived are served first. Returns once every worker has ended.
  void Stop();

 private:
  // Who holds a connection now.
  // kArming: its holder is arming it to wait again.
  enum class Holder { kWaiting, kArming, kWorker, kQueue, kSweep };
  struct Entry {
    std::unique_ptr<Connection> connection;
    Holder holder = Holder::kWaiting;
    bool woken = false;  // a wake-up came while it was being armed
  };
  // What becomes of a connection its holder is done with.
  enum class Next { kWait, kServe, kClose };

  void Work();
  void WorkWaiting();
  void Sweep();
  // Reads what the connection has and scans it; kServe with a whole head.
  Next ReadFrom(Connection& connection);
  // Scans the buffered bytes: a whole head is served, a head past its
  // bounds refused.
  Next Decide(Connection& connection);
  Next RefuseHead(Connection& connection, int status,
                  const std::string& reason);
  // What a passed deadline does to the connection.
  Next Expire(Connection& connection);
  // Serves the connection's requests while their heads are there (the
  // waiting ones only on `lane` 1), then lets go of it.
  void ServeHeld(uint64_t key, Connection& connection, size_t lane);
  // Lets go of a held connection: kWait back to wait in the set (closed
  // after Stop), kServe to the queue of the workers that wait on other
  // servers, kClose closed.
  void Release(uint64_t key, Next next);
  // The connection under `key` when it waits in the set, now held by
  // `holder`; null when another party holds it or it has gone.
  Connection* Take(uint64_t key, Holder holder);
  // Arms a held connection's socket to wait in the set; `lock` holds
  // `mutex_` on entry and on return, not in between. False when it cannot
  // be armed; the connection is still held then.
  bool Arm(std::unique_lock<std::mutex>& lock, uint64_t key, Entry& entry);

  ConnectionLimits limits_;
  Serve serve_;
  Refusal refusal_;
  Waits waits_;
  platform::SocketEvents events_;

  std::mutex mutex_;
  bool stopping_ = false;
  bool started_ = false;
  // Every open connection, by a key never used again.
  std::unordered_map<uint64_t, Entry> open_;
  uint64_t last_key_ = 0;
  // Connections waiting in the set.
  size_t waiting_ = 0;
  // Connections whose whole head waits on other servers, for their workers.
  std::deque<uint64_t> queued_;
  bool waiting_workers_end_ = false;
  std::condition_variable queued_signal_;
  std::condition_variable sweep_signal_;

  std::vector<std::thread> workers_;
  std::vector<std::thread> waiting_workers_;
  std::thread sweeper_;
};

}  // namespace corvane::web

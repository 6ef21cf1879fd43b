// SPDX-License-Identifier: Apache-2.0
// A request body handed to a page in bounded pieces as the page asks for
// them: the HTTP library pushes the body into a receiver, so a thread of the
// stream's own runs the library's reader and a small buffer carries the
// bytes across; the page pulls them.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace corvane::web {

class BodyStream {
 public:
  // The most bytes held between the socket and the page.
  static constexpr size_t kBufferBytes = 256 * 1024;

  // Starts reading a body of `length` bytes (its Content-Length) with
  // `reader`, which must outlive the stream. More than `length` bytes, or a
  // body that ends early or stalls, ends the stream short (Whole false).
  BodyStream(const httplib::ContentReader& reader, uint64_t length);
  // Stops the reading where it is and waits for the thread.
  ~BodyStream();
  BodyStream(const BodyStream&) = delete;
  BodyStream& operator=(const BodyStream&) = delete;

  // The bytes the page has still to read.
  uint64_t Left() const { return left_; }

  // Up to `count` bytes of the body into `data`, waiting for the first of
  // them; 0 only at its end (or where it was cut short).
  size_t ReadSome(char* data, size_t count);
  // `count` bytes of the body, fewer only at its end.
  std::string Read(size_t count);
  // Puts `bytes` back before what is left, to be read again first.
  void Unread(std::string bytes);
  // Called with every piece the page reads, in order.
  void Watch(std::function<void(std::string_view)> watcher);

  // Reads and drops whatever the page left; true when the body arrived
  // whole, so that the connection may carry another request.
  bool Finish();

 private:
  void Receive(const httplib::ContentReader& reader);

  uint64_t left_;
  std::string unread_;
  std::function<void(std::string_view)> watcher_;

  std::mutex mutex_;
  std::condition_variable changed_;
  // Bytes received and not yet taken by the page.
  std::string buffer_;
  size_t taken_ = 0;
  // The reader has returned; `whole_` says whether the body came whole.
  bool ended_ = false;
  bool whole_ = false;
  // The page wants no more: the rest is dropped as it arrives, or, when
  // `stopped_`, not read at all.
  bool dropping_ = false;
  bool stopped_ = false;
  std::thread thread_;
};

}  // namespace corvane::web

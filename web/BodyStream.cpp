// SPDX-License-Identifier: Apache-2.0
#include "web/BodyStream.h"

#include <algorithm>
#include <cstring>

namespace corvane::web {

BodyStream::BodyStream(const httplib::ContentReader& reader, uint64_t length)
    : left_(length) {
  thread_ = std::thread([this, &reader] { Receive(reader); });
}

BodyStream::~BodyStream() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void BodyStream::Receive(const httplib::ContentReader& reader) {
  uint64_t length = left_;
  uint64_t received = 0;
  bool read = reader([&](const char* data, size_t size) {
    received += size;
    std::unique_lock lock(mutex_);
    if (received > length) return false;
    changed_.wait(lock, [&] {
      return stopped_ || dropping_ || buffer_.size() - taken_ < kBufferBytes;
    });
    if (stopped_) return false;
    if (dropping_) return true;
    // What the page has taken is dropped once it is a buffer's worth, so
    // that the buffer stays within twice its bound.
    if (taken_ >= kBufferBytes || taken_ == buffer_.size()) {
      buffer_.erase(0, taken_);
      taken_ = 0;
    }
    buffer_.append(data, size);
    changed_.notify_all();
    return true;
  });
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    whole_ = read && received == length;
  }
  changed_.notify_all();
}

size_t BodyStream::ReadSome(char* data, size_t count) {
  count = static_cast<size_t>(std::min<uint64_t>(count, left_));
  if (count == 0) return 0;
  size_t got = 0;
  if (!unread_.empty()) {
    got = std::min(count, unread_.size());
    std::memcpy(data, unread_.data(), got);
    unread_.erase(0, got);
  } else {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ended_ || buffer_.size() > taken_; });
    got = std::min(count, buffer_.size() - taken_);
    std::memcpy(data, buffer_.data() + taken_, got);
    taken_ += got;
    lock.unlock();
    changed_.notify_all();
  }
  // A body cut short ends here for the page.
  left_ = got == 0 ? 0 : left_ - got;
  if (watcher_ && got > 0) watcher_(std::string_view(data, got));
  return got;
}

std::string BodyStream::Read(size_t count) {
  std::string bytes(static_cast<size_t>(std::min<uint64_t>(count, left_)), 0);
  size_t got = 0;
  while (got < bytes.size()) {
    size_t more = ReadSome(bytes.data() + got, bytes.size() - got);
    if (more == 0) break;
    got += more;
  }
  bytes.resize(got);
  return bytes;
}

void BodyStream::Unread(std::string bytes) {
  left_ += bytes.size();
  unread_.insert(0, bytes);
}

void BodyStream::Watch(std::function<void(std::string_view)> watcher) {
  watcher_ = std::move(watcher);
}

bool BodyStream::Finish() {
  left_ = 0;
  unread_.clear();
  std::unique_lock lock(mutex_);
  dropping_ = true;
  buffer_.clear();
  taken_ = 0;
  changed_.notify_all();
  changed_.wait(lock, [&] { return ended_; });
  return whole_;
}

}  // namespace corvane::web

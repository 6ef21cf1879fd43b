// SPDX-License-Identifier: Apache-2.0
#include "frame/MemoryHost.h"

#include <algorithm>

#include "frame/Text.h"

namespace corvane {
namespace {

class MemoryRequest : public Request {
 public:
  explicit MemoryRequest(MemoryRequestData data)
      : data_(std::move(data)),
        total_(static_cast<int32_t>(
            std::min<size_t>(data_.body.size(), INT32_MAX))) {}

  int32_t TotalBytes() override { return total_; }

  // Each call delivers the next bytes of the body, up to `count`; the body
  // is let go once it has been read to its end.
  Variant BinaryRead(Variant& count) override {
    size_t wanted = static_cast<size_t>(std::max(count.ToInt32(), 0));
    size_t left = data_.body.size() - read_;
    size_t delivered = std::min(wanted, left);
    std::string bytes = read_ == 0 && delivered == left
                            ? std::move(data_.body)
                            : data_.body.substr(read_, delivered);
    read_ += delivered;
    if (delivered == left) {
      data_.body = std::string();
      read_ = 0;
    }
    count = static_cast<int32_t>(bytes.size());
    return Bytes{std::move(bytes)};
  }

  std::string ServerVariables(std::string_view name) override {
    for (const auto& [key, value] : data_.server_variables) {
      if (EqualsIgnoringCase(key, name)) return value;
    }
    return {};
  }

  std::string QueryString() override { return data_.query_string; }

 private:
  MemoryRequestData data_;
  int32_t total_;
  // Bytes of data_.body delivered so far.
  size_t read_ = 0;
};

class MemoryResponse : public Response {
 public:
  void Write(const Variant& text) override { output += text.ToText(); }
  std::string output;
};

}  // namespace

MemoryContext::MemoryContext(MemoryRequestData data)
    : request_(std::make_shared<MemoryRequest>(std::move(data))),
      response_(std::make_shared<MemoryResponse>()) {}

const std::string& MemoryContext::Output() const {
  return static_cast<const MemoryResponse&>(*response_).output;
}

}  // namespace corvane

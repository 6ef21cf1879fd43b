// SPDX-License-Identifier: Apache-2.0
#include "frame/MemoryHost.h"

#include <algorithm>

#include "frame/Text.h"

namespace corvane {
namespace {

class MemoryRequest : public Request {
 public:
  explicit MemoryRequest(MemoryRequestData data) : data_(std::move(data)) {}

  int32_t TotalBytes() override {
    return static_cast<int32_t>(std::min<size_t>(data_.body.size(), INT32_MAX));
  }

  Variant BinaryRead(Variant& count) override {
    size_t wanted = static_cast<size_t>(std::max(count.ToInt32(), 0));
    std::string bytes;
    if (!body_read_) {
      body_read_ = true;
      if (wanted >= data_.body.size()) {
        bytes = std::move(data_.body);
      } else {
        bytes = data_.body.substr(0, wanted);
      }
      data_.body.clear();
      data_.body.shrink_to_fit();
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
  bool body_read_ = false;
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

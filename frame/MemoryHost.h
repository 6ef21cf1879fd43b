// SPDX-License-Identifier: Apache-2.0
// A page host held wholly in memory, for tests and page scripts: the request
// is given up front and the response keeps what was written.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "frame/Host.h"
#include "platform/Export.h"

namespace corvane {

struct CORVANE_API MemoryRequestData {
  std::string body;
  std::string query_string;
  // Names compared without regard to case; CONTENT_TYPE among them.
  std::map<std::string, std::string> server_variables;
};

class CORVANE_API MemoryContext : public ScriptingContext {
 public:
  explicit MemoryContext(MemoryRequestData data);
  static std::shared_ptr<MemoryContext> New(MemoryRequestData data = {}) {
    return std::make_shared<MemoryContext>(std::move(data));
  }

  std::shared_ptr<corvane::Request> Request() override { return request_; }
  std::shared_ptr<corvane::Response> Response() override { return response_; }
  // Everything written to the page so far.
  const std::string& Output() const;

 private:
  std::shared_ptr<corvane::Request> request_;
  std::shared_ptr<corvane::Response> response_;
};

}  // namespace corvane

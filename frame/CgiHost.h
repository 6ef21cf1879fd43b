// SPDX-License-Identifier: Apache-2.0
// The page host of a program that a web server starts per request: the
// request comes from CONTENT_LENGTH, standard input (read in pieces), the
// environment and QUERY_STRING; the response goes to standard output after
// a "Content-Type: text/html" header, written once before the first text.
// A body that claims more than the host's limit is refused unread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "frame/Host.h"
#include "platform/Export.h"
#include "platform/Failure.h"

namespace corvane {

// The body limit of a host unless its program sets another: 1 GiB.
inline constexpr int64_t kDefaultMaxBodyBytes = int64_t{1} << 30;

// The failure (5) of a host whose request's CONTENT_LENGTH, `text`, is not
// a number of bytes; the host answers "400 Bad Request".
CORVANE_API Failure MalformedContentLength(std::string_view text);
// The failure (5) of a host that leaves unread a body of `claimed` bytes
// above its `limit`; the host answers "413 Payload Too Large".
CORVANE_API Failure BodyAboveLimit(int64_t claimed, int64_t limit);

class CORVANE_API CgiContext : public ScriptingContext {
 public:
  // `content_type` is the header's value ("text/html" for pages). A request
  // whose CONTENT_LENGTH is above `max_body_bytes` is not read: BinaryRead
  // throws Failure 5 naming both lengths, and the answer gets the header
  // "Status: 413 Payload Too Large".
  explicit CgiContext(std::string content_type = "text/html",
                      int64_t max_body_bytes = kDefaultMaxBodyBytes);
  static std::shared_ptr<CgiContext> New(
      std::string content_type = "text/html",
      int64_t max_body_bytes = kDefaultMaxBodyBytes) {
    return std::make_shared<CgiContext>(std::move(content_type),
                                        max_body_bytes);
  }

  std::shared_ptr<corvane::Request> Request() override { return request_; }
  std::shared_ptr<corvane::Response> Response() override { return response_; }
  // Whether the header has gone out (after the first Write or WriteHeader).
  bool HeaderWritten() const;
  // Writes the header unless it has gone out already, for a program that
  // answers with no text at all.
  void WriteHeader();

 private:
  std::shared_ptr<corvane::Request> request_;
  std::shared_ptr<corvane::Response> response_;
};

}  // namespace corvane

// The page host of a program that a web server starts per request: the
// request comes from CONTENT_LENGTH, standard input (read once), the
// environment and QUERY_STRING; the response goes to standard output after
// a "Content-Type: text/html" header, written once before the first text.
#pragma once

#include <memory>
#include <string>

#include "frame/Host.h"

namespace corvane {

class CgiContext : public ScriptingContext {
 public:
  // `content_type` is the header's value ("text/html" for pages).
  explicit CgiContext(std::string content_type = "text/html");
  static std::shared_ptr<CgiContext> New(
      std::string content_type = "text/html") {
    return std::make_shared<CgiContext>(std::move(content_type));
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

// SPDX-License-Identifier: Apache-2.0
// What a console page receives and answers, and the component a page binds
// to its scripting context for the length of one request.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/Dispatch.h"
#include "frame/Host.h"
#include "web/ConsoleSettings.h"
#include "web/FileAnswer.h"
#include "web/HttpHost.h"

namespace httplib {
struct Request;
}

namespace corvane::web {

class BodyStream;

struct PageCall {
  const httplib::Request& request;
  // The raw request body of a POST held whole; empty for GET and when the
  // body is streamed.
  std::string body;
  const ConsoleSettings& settings;
  const ServerAddress& server;
  // The body of a POST that arrives while the page runs; nullptr when it
  // is held whole in `body`.
  BodyStream* stream = nullptr;
  bool IsPost() const;
  // The bytes of the body still to be read.
  uint64_t BodyBytes() const;
  // The page's scripting context, its Request reading the stream or, when
  // the body is held whole, taking `body` over.
  std::shared_ptr<HttpContext> Context();
};

struct PageAnswer {
  int status = 200;
  std::string title;
  std::string body_html;
  // Further response headers (Location, Set-Cookie).
  std::vector<std::pair<std::string, std::string>> headers;
  // A download: when set, `content` goes out as it is, with this type,
  // instead of a page.
  std::string content_type;
  std::string content;
  // A file download: when set, the file goes out in pieces (SendFile) with
  // `content_type`, instead of `content`.
  std::optional<FileBody> file;
};

using PageHandler = std::function<PageAnswer(PageCall&)>;

// A component created by ProgID and bound to a page with OnStartPage;
// OnEndPage runs when the object goes. The constructor throws Failure when
// the class cannot be created or bound.
class PageObject {
 public:
  PageObject(std::string_view progid,
             const std::shared_ptr<ScriptingContext>& context);
  ~PageObject();
  PageObject(const PageObject&) = delete;
  PageObject& operator=(const PageObject&) = delete;
  Dispatch* operator->() const { return object_.get(); }
  Dispatch& operator*() const { return *object_; }

  // The component's last-error triple as HTML.
  std::string ErrorTripleHtml() const;
  // The same as one paragraph for an outcome's details: "Error N from
  // SOURCE: DESCRIPTION".
  std::string ErrorDetailsHtml() const;

 private:
  std::shared_ptr<Dispatch> object_;
};

// The text a component wrote to the page, its "<br>" markup as line breaks
// and escaped once, under a heading; empty when it wrote nothing.
std::string PageTextHtml(const MemoryContext& context);

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
// The page host of a WSGI application (corvane.WsgiPage): the request comes
// from the environ mapping (server variables, QUERY_STRING, CONTENT_LENGTH,
// cookies) and its body from wsgi.input, read only when a component asks
// and then in pieces of at most kPieceBytes; what the components write to
// the page is kept for the view to return. Works the same over a plain dict.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frame/CgiHost.h"
#include "frame/Host.h"

namespace corvane::python {

namespace py = pybind11;

// The most bytes asked of wsgi.input in one read.
inline constexpr size_t kPieceBytes = 64 * 1024;

class WsgiContext : public ScriptingContext,
                    public std::enable_shared_from_this<WsgiContext> {
 public:
  // Takes the environ's text values (decoded from the Latin-1 that WSGI
  // gives, or UTF-8 for text that is not Latin-1) and its wsgi.input. A body
  // whose CONTENT_LENGTH is above `max_body_bytes` is not read: BinaryRead
  // throws Failure 5 and `Status()` becomes "413 Payload Too Large"; a
  // CONTENT_LENGTH that is not a number fails the same way with "400 Bad
  // Request". Throws py::error_already_set when environ is no mapping.
  WsgiContext(const py::object& environ, int64_t max_body_bytes);
  ~WsgiContext() override;

  std::shared_ptr<corvane::Request> Request() override { return request_; }
  std::shared_ptr<corvane::Response> Response() override { return response_; }

  // Everything the components wrote to the page, in order.
  const std::string& Output() const;
  // The HTTP status the page should answer with: "200 OK" unless the host
  // refused the body.
  const std::string& Status() const;
  // The body bytes read from wsgi.input so far.
  int64_t BytesRead() const;
  // The server variable (CONTENT_TYPE, HTTP_COOKIE, ...) as given; empty
  // text when it is not set. Names are matched without regard to case.
  std::string ServerVariable(const std::string& name) const;

  // Binds a component to this page (its OnStartPage, when it has one) and
  // remembers it for End. Throws whatever OnStartPage raises.
  void Bind(const std::shared_ptr<Dispatch>& object);
  // Ends the page: OnEndPage on every bound object still alive, whose own
  // failures are not reported (the page is over either way). Repeating it
  // does nothing.
  void End();

 private:
  std::shared_ptr<corvane::Request> request_;
  std::shared_ptr<corvane::Response> response_;
  std::vector<std::weak_ptr<Dispatch>> bound_;
  size_t prune_at_ = 16;
};

// A new object of the class registered under `progid`, bound to `page`
// when one is given. Throws Failure as CreateObject and OnStartPage do.
std::shared_ptr<Dispatch> Created(const std::string& progid,
                                  const std::shared_ptr<WsgiContext>& page);

// Declares corvane.WsgiPage in the module.
void DefineWsgiPage(py::module_& module);

}  // namespace corvane::python

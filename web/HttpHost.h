// SPDX-License-Identifier: Apache-2.0
// The page host of the embedded web server: each HTTP request becomes one
// scripting context whose Request reads that request (the body, held whole
// or streamed from the socket, its headers as CGI server variables, its
// query string) and whose Response collects the page text.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "frame/MemoryHost.h"

namespace httplib {
struct Request;
}

namespace corvane::web {

// Where the server listens, as the server variables report it.
struct ServerAddress {
  std::string name;
  int port = 0;
};

// The CGI variables of a request: REQUEST_METHOD, QUERY_STRING,
// CONTENT_TYPE, CONTENT_LENGTH, SCRIPT_NAME, PATH_INFO, SERVER_NAME,
// SERVER_PORT, SERVER_PROTOCOL, SERVER_SOFTWARE, GATEWAY_INTERFACE,
// REMOTE_ADDR, REMOTE_PORT and HTTP_<NAME> for every header.
std::map<std::string, std::string> CgiVariables(const httplib::Request& request,
                                                const ServerAddress& server,
                                                size_t content_length);

// The server reads a multipart body into parts by itself; the components
// read the body as it came, through BinaryRead. This moves a request's
// Content-Type aside so that the server hands the body over unparsed;
// ContentTypeOf still reports it.
void KeepBodyWhole(httplib::Request& request);

// The request's Content-Type as the client sent it; empty when none.
std::string ContentTypeOf(const httplib::Request& request);

class BodyStream;

class HttpContext : public MemoryContext {
 public:
  using MemoryContext::MemoryContext;
  // The context of one request whose body, read whole, is moved into it;
  // each BinaryRead hands out its next bytes, up to the count asked.
  static std::shared_ptr<HttpContext> New(const httplib::Request& request,
                                          const ServerAddress& server,
                                          std::string body);
  // The context of one request whose body BinaryRead takes from `body` as
  // the page asks, up to the count asked each time; TotalBytes is what the
  // stream has left now. The stream must outlive the page's reads.
  static std::shared_ptr<HttpContext> New(const httplib::Request& request,
                                          const ServerAddress& server,
                                          BodyStream& body);

  std::shared_ptr<corvane::Request> Request() override;

 private:
  // The streaming request; nullptr when the body is held whole.
  std::shared_ptr<corvane::Request> streamed_;
};

}  // namespace corvane::web

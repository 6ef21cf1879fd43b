// SPDX-License-Identifier: Apache-2.0
#include "web/HttpHost.h"

#include <httplib.h>

#include <algorithm>

#include "frame/Text.h"
#include "web/BodyStream.h"

namespace corvane::web {
namespace {

constexpr char kServerSoftware[] = "Corvane-console/1.0";
// Where KeepBodyWhole keeps the Content-Type header.
constexpr char kKeptContentType[] = "Corvane-Kept-Content-Type";

// "Accept-Language" -> "HTTP_ACCEPT_LANGUAGE".
std::string HeaderVariable(const std::string& header) {
  std::string name = "HTTP_";
  for (char c : header) {
    name +=
        c == '-'
            ? '_'
            : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string QueryOf(const httplib::Request& request) {
  size_t mark = request.target.find('?');
  return mark == std::string::npos ? std::string()
                                   : request.target.substr(mark + 1);
}

// A request whose body comes from a stream; the server variables and the
// query come from a memory request made for them.
class StreamedRequest : public corvane::Request {
 public:
  StreamedRequest(std::shared_ptr<corvane::Request> described, BodyStream& body)
      : described_(std::move(described)),
        body_(body),
        total_(
            static_cast<int32_t>(std::min<uint64_t>(body.Left(), INT32_MAX))) {}

  int32_t TotalBytes() override { return total_; }

  Variant BinaryRead(Variant& count) override {
    std::string bytes =
        body_.Read(static_cast<size_t>(std::max(count.ToInt32(), 0)));
    count = static_cast<int32_t>(bytes.size());
    return Bytes{std::move(bytes)};
  }

  std::string ServerVariables(std::string_view name) override {
    return described_->ServerVariables(name);
  }

  std::string QueryString() override { return described_->QueryString(); }

 private:
  std::shared_ptr<corvane::Request> described_;
  BodyStream& body_;
  int32_t total_;
};

}  // namespace

void KeepBodyWhole(httplib::Request& request) {
  // Most requests carry neither field: one pass finds that out.
  if (std::none_of(request.headers.begin(), request.headers.end(),
                   [](const auto& field) {
                     return EqualsIgnoringCase(field.first, "Content-Type") ||
                            EqualsIgnoringCase(field.first, kKeptContentType);
                   })) {
    return;
  }
  // A client's own header of that name must not pass for the real one.
  request.headers.erase(kKeptContentType);
  auto type = request.headers.find("Content-Type");
  if (type == request.headers.end()) return;
  request.headers.emplace(kKeptContentType, type->second);
  request.headers.erase(type);
}

std::string ContentTypeOf(const httplib::Request& request) {
  if (request.has_header(kKeptContentType)) {
    return request.get_header_value(kKeptContentType);
  }
  return request.get_header_value("Content-Type");
}

std::map<std::string, std::string> CgiVariables(const httplib::Request& request,
                                                const ServerAddress& server,
                                                size_t content_length) {
  std::map<std::string, std::string> variables;
  for (const auto& [name, value] : request.headers) {
    // Content type and length have their own names; a repeated header
    // keeps its first value.
    if (name.empty() || name == kKeptContentType) continue;
    variables.emplace(HeaderVariable(name), value);
  }
  variables.erase("HTTP_CONTENT_TYPE");
  variables.erase("HTTP_CONTENT_LENGTH");
  variables["REQUEST_METHOD"] = request.method;
  variables["QUERY_STRING"] = QueryOf(request);
  variables["CONTENT_TYPE"] = ContentTypeOf(request);
  variables["CONTENT_LENGTH"] =
      content_length ? std::to_string(content_length) : std::string();
  variables["SCRIPT_NAME"] = request.path;
  variables["PATH_INFO"] = "";
  variables["SERVER_NAME"] = server.name;
  variables["SERVER_PORT"] = std::to_string(server.port);
  variables["SERVER_PROTOCOL"] = request.version;
  variables["SERVER_SOFTWARE"] = kServerSoftware;
  variables["GATEWAY_INTERFACE"] = "CGI/1.1";
  variables["REMOTE_ADDR"] = request.remote_addr;
  variables["REMOTE_PORT"] = std::to_string(request.remote_port);
  return variables;
}

std::shared_ptr<HttpContext> HttpContext::New(const httplib::Request& request,
                                              const ServerAddress& server,
                                              std::string body) {
  MemoryRequestData data;
  data.server_variables = CgiVariables(request, server, body.size());
  data.query_string = QueryOf(request);
  data.body = std::move(body);
  return std::make_shared<HttpContext>(std::move(data));
}

std::shared_ptr<HttpContext> HttpContext::New(const httplib::Request& request,
                                              const ServerAddress& server,
                                              BodyStream& body) {
  MemoryRequestData data;
  data.server_variables =
      CgiVariables(request, server, static_cast<size_t>(body.Left()));
  data.query_string = QueryOf(request);
  auto context = std::make_shared<HttpContext>(std::move(data));
  context->streamed_ = std::make_shared<StreamedRequest>(
      context->MemoryContext::Request(), body);
  return context;
}

std::shared_ptr<corvane::Request> HttpContext::Request() {
  return streamed_ ? streamed_ : MemoryContext::Request();
}

}  // namespace corvane::web

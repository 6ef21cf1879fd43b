// SPDX-License-Identifier: Apache-2.0
#include "web/ConsoleServer.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/Listener.h"
#include "platform/ServerSocket.h"
#include "web/Access.h"
#include "web/BodyStream.h"
#include "web/Connections.h"
#include "web/ConsoleScript.h"
#include "web/FileFacts.h"
#include "web/FilesPage.h"
#include "web/FormFields.h"
#include "web/GatewayPage.h"
#include "web/Html.h"
#include "web/HttpHost.h"
#include "web/IndexPage.h"
#include "web/MailPage.h"
#include "web/Page.h"
#include "web/RequestGuard.h"
#include "web/UploadPage.h"
#include "web/WhoisPage.h"

namespace corvane::web {
namespace {

using Clock = std::chrono::steady_clock;

// When the request on this worker thread began; set before routing, unset
// once its answer is logged.
thread_local Clock::time_point request_start;

// What a connection reads from its socket at a time while a request is
// served.
constexpr size_t kStreamPiece = 64 * 1024;
// A body or an answer that stalls this long ends its connection.
constexpr int kReadTimeoutMs = 30 * 1000;
constexpr int kWriteTimeoutMs = 30 * 1000;
// Requests one connection carries before it is closed.
constexpr size_t kMaxRequestsPerConnection = 100;
// The HTTP library listens with a queue of 5, which a burst of clients
// overflows; the kernel then drops or resets their connections.
constexpr int kListenBacklog = 1024;
// The most of a streamed form read before its first part must have ended:
// that part carries the session's form token.
constexpr size_t kMaxFormTokenHead = 8 * 1024;

// A multipart body up to this size is read whole before its page runs:
// handing it over through a thread of its own costs more than holding it.
constexpr uint64_t kMostWholeUpload = 1024 * 1024;

// Whether a page takes its multipart body as it arrives.
enum class Body { kWhole, kStreamed };

// The most characters of a log line's method and path.
constexpr size_t kLoggedMethod = 64;
constexpr size_t kLoggedPath = 2048;

// The addresses answered in byte ranges when a request asks for them: the
// console's fixed files and stored files. Every other answer is made for
// its request (a page, a refusal, an error), so no part of it is one the
// client could already hold.
constexpr std::array<std::string_view, 4> kRangedPaths = {
    "/style.css", "/favicon.svg", "/console.js", "/files/download"};

// Answers the request whole, whatever ranges it asked for: the library
// would otherwise cut the answer's body under the status the console set
// (a 200 or an error), which claims the whole.
void AnswerWhole(const httplib::Request& request) {
  // The server owns the request; only its handlers see it as const.
  if (!request.ranges.empty()) {
    const_cast<httplib::Request&>(request).ranges.clear();
  }
}

// The fields every answer carries unless its page states them itself.
struct Field {
  std::string_view name;
  std::string_view value;
};
constexpr std::array<Field, 5> kSecurityFields = {{
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
    {"Content-Security-Policy",
     "default-src 'self'; frame-ancestors 'none'; form-action 'self'"},
    {"Referrer-Policy", "same-origin"},
    {"Cache-Control", "no-store"},
}};

// Control bytes and bytes above 0x7E as \xNN, so that a request cannot
// forge or break log lines; appended to `out`, at most `most` characters
// of it, a cut text ending in "...".
void AppendLogText(std::string& out, std::string_view text,
                   size_t most = std::string::npos) {
  const size_t start = out.size();
  AppendEscaped(
      out, text,
      [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte <= 0x7E && c != '\\';
      },
      [](std::string& line, char c) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X",
                      static_cast<unsigned char>(c));
        line += escaped;
      });
  if (out.size() - start <= most) return;
  size_t end = start + most - 3;
  // Not in the middle of an escape (every backslash starts one).
  size_t escape = out.rfind('\\', end);
  if (escape != std::string::npos && escape >= start && escape + 4 > end) {
    end = escape;
  }
  out.resize(end);
  out += "...";
}

std::string LogText(std::string_view text) {
  std::string out;
  AppendLogText(out, text);
  return out;
}

std::string StatusReason(int status) {
  switch (status) {
    case 400:
      return "The request is malformed.";
    case 404:
      return "There is no such page.";
    case 405:
      return "The page does not take this method.";
    case 413:
      return "The request is larger than the console takes.";
    case 414:
      return "The address is too long.";
    case 431:
      return "The request head is larger than the console takes.";
    default:
      return "The request could not be served.";
  }
}

// The first value of each of `names` among `headers`, found in one pass;
// null where a name is not there. The library's own look-up compares names
// a letter at a time through the C library, several times for each name.
template <size_t N>
std::array<const std::string*, N> FieldValues(
    const httplib::Headers& headers,
    const std::array<std::string_view, N>& names) {
  std::array<const std::string*, N> values{};
  for (const auto& [name, value] : headers) {
    for (size_t i = 0; i < N; ++i) {
      if (!values[i] && EqualsIgnoringCase(name, names[i])) values[i] = &value;
    }
  }
  return values;
}

// The last step before an answer is written: adds the security fields its
// page did not state, so that a page's own field (the script's
// Cache-Control) replaces the default instead of going out beside it; closes
// the connection after a 400 and takes the library's Keep-Alive off an
// answer that closes; and states that a compressed answer varies with
// Accept-Encoding.
void CompleteFields(httplib::Response& response) {
  constexpr size_t kConnection = kSecurityFields.size();
  constexpr size_t kEncoding = kConnection + 1;
  constexpr auto kNames = [] {
    std::array<std::string_view, kSecurityFields.size() + 2> names{};
    for (size_t i = 0; i < kSecurityFields.size(); ++i) {
      names[i] = kSecurityFields[i].name;
    }
    names[kConnection] = "Connection";
    names[kEncoding] = "Content-Encoding";
    return names;
  }();
  auto present = FieldValues(response.headers, kNames);
  for (size_t i = 0; i < kSecurityFields.size(); ++i) {
    if (present[i]) continue;
    response.headers.emplace_hint(response.headers.end(),
                                  std::string(kSecurityFields[i].name),
                                  std::string(kSecurityFields[i].value));
  }
  bool closes = present[kConnection] && *present[kConnection] == "close";
  // A request the library could not parse leaves the rest of its head
  // unread: the connection ends with the answer, or that rest would be
  // taken for the next request.
  if (response.status == 400 && !closes) {
    response.headers.emplace("Connection", "close");
    closes = true;
  }
  if (closes) response.headers.erase("Keep-Alive");
  // The library compresses for a client that accepts it: a cache that
  // keeps the answer (the script, the icon) must not hand the compressed
  // one to a client that does not.
  if (present[kEncoding]) {
    response.headers.emplace_hint(response.headers.end(), "Vary",
                                  "Accept-Encoding");
  }
}

// Over TLS the library serves a connection in a loop of its own, which an
// answer's Connection: close does not end. What the client sent beyond
// the request (an unread body, the rest of a head) is dropped and the
// socket's input ended, so that the loop ends at its next read instead of
// taking those bytes for a request. Called once the answer is written: the
// library writes only to a connection whose input has not ended.
void EndTlsInput(const SSL* tls) {
  // The server owns the connection; the request only shows it as const.
  auto* connection = const_cast<SSL*>(tls);
  SSL_set_shutdown(connection,
                   SSL_get_shutdown(connection) | SSL_RECEIVED_SHUTDOWN);
  platform::EndReading(SSL_get_fd(connection));
}

std::string ValueOf(const std::string* value) {
  return value ? *value : std::string();
}

std::optional<uint64_t> LengthOf(const std::string* value) {
  if (!value) return std::nullopt;
  return std::strtoull(value->c_str(), nullptr, 10);
}

// The stated Content-Length of a request or answer; nullopt when none is
// stated.
std::optional<uint64_t> StatedLength(const httplib::Headers& headers) {
  return LengthOf(FieldValues<1>(headers, {"Content-Length"})[0]);
}

// Whether `name` is a token (RFC 9110 5.1): no blank, no separator. The
// library keeps a name's blanks ("Transfer-Encoding :"), where a proxy in
// front may drop them and read the field.
bool IsFieldName(std::string_view name) {
  static constexpr auto kTokenBytes = [] {
    std::array<bool, 256> token{};
    for (int c = '0'; c <= '9'; ++c) token[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c) token[c] = token[c + 'a' - 'A'] = true;
    for (char c : std::string_view("!#$%&'*+-.^_`|~")) {
      token[static_cast<unsigned char>(c)] = true;
    }
    return token;
  }();
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return kTokenBytes[static_cast<unsigned char>(c)];
  });
}

RequestFacts FactsOf(const httplib::Request& request) {
  auto [host, origin, referer, length, coding] = FieldValues<5>(
      request.headers,
      {"Host", "Origin", "Referer", "Content-Length", "Transfer-Encoding"});
  RequestFacts facts;
  facts.method = request.method;
  facts.host = ValueOf(host);
  facts.origin = ValueOf(origin);
  facts.referer = ValueOf(referer);
  facts.header_count = request.headers.size();
  facts.local_address = request.local_addr;
  facts.content_length = LengthOf(length);
  facts.transfer_encoding = ValueOf(coding);
  facts.malformed_name =
      std::any_of(request.headers.begin(), request.headers.end(),
                  [](const auto& field) { return !IsFieldName(field.first); });
  if (const std::string* stated = length) {
    auto [first, end] = request.headers.equal_range("Content-Length");
    facts.lengths_differ = std::any_of(first, end, [stated](const auto& field) {
      return field.second != *stated;
    });
  }
  return facts;
}

std::string CookieOf(const httplib::Request& request) {
  return ValueOf(FieldValues<1>(request.headers, {"Cookie"})[0]);
}

void SendHtml(httplib::Response& response, int status, std::string html) {
  static const std::string kHtml = "text/html; charset=utf-8";
  response.status = status;
  // The page is moved in; the library's set_content would copy it.
  response.set_content("", 0, kHtml);
  response.body = std::move(html);
}

AccessRequest AccessOf(const httplib::Request& request) {
  return AccessRequest{request.method, request.target,
                       request.get_param_value("token"), CookieOf(request),
                       request.remote_addr};
}

// A login page or a redirect of the access checks, without the navigation.
void SendAccess(httplib::Response& response, const AccessAnswer& answer) {
  for (const auto& [name, value] : answer.headers) {
    response.set_header(name, value);
  }
  SendHtml(response, answer.status,
           PageHtml(answer.title, answer.body_html,
                    PageFrame{.current = {}, .navigation = false}));
}

std::string StatusPage(int status, std::string_view reason) {
  return PageHtml(
      "Error " + std::to_string(status),
      "<div class=\"error\" id=\"refusal\">" + Escape(reason) + "</div>\n");
}

const char* StatusText(int status) {
  switch (status) {
    case 408:
      return "Request Timeout";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

// Whether the answer just written closes its connection; set by the logger,
// which the server calls for every answer on the worker's thread.
thread_local bool answer_closes = false;

// A connection as the HTTP library reads it: first the bytes read with the
// head, then the socket, each wait bounded. What the library
// writes is gathered and sent in one piece when the answer is done (or
// before the stream waits for input, or once a piece is full): the library
// writes an answer's head and body separately, which would otherwise cost
// two system calls and two segments per answer.
class ConnectionStream : public httplib::Stream {
 public:
  explicit ConnectionStream(Connection& connection)
      : connection_(connection), pending_(OutputBuffer()) {
    pending_.clear();
  }

  bool is_readable() const override {
    return connection_.used < connection_.buffer.size() ||
           (const_cast<ConnectionStream*>(this)->Flush() &&
            platform::WaitReadable(connection_.socket, kReadTimeoutMs));
  }
  bool is_writable() const override {
    return pending_.size() < kStreamPiece ||
           platform::WaitWritable(connection_.socket, kWriteTimeoutMs);
  }
  ssize_t read(char* data, size_t size) override {
    // The library reads a head's lines one byte a call: that call is kept
    // to a few instructions, the rest is out of line.
    if (size == 1 && connection_.used < connection_.buffer.size()) {
      *data = connection_.buffer[connection_.used++];
      return 1;
    }
    return ReadPiece(data, size);
  }
  ssize_t write(const char* data, size_t size) override {
    if (pending_.size() + size > kStreamPiece) {
      if (!Flush()) return -1;
      if (size >= kStreamPiece) {
        return platform::WriteSocket(connection_.socket, data, size,
                                     kWriteTimeoutMs)
                   ? static_cast<ssize_t>(size)
                   : -1;
      }
    }
    pending_.append(data, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& address, int& port) const override {
    KnowAddresses();
    address = connection_.peer_address;
    port = connection_.peer_port;
  }
  void get_local_ip_and_port(std::string& address, int& port) const override {
    KnowAddresses();
    address = connection_.local_address;
    port = connection_.local_port;
  }
  int socket() const override { return connection_.socket; }

  // Sends what was gathered; false when the peer has gone or the time ran
  // out.
  bool Flush() {
    if (pending_.empty()) return true;
    bool sent = platform::WriteSocket(connection_.socket, pending_.data(),
                                      pending_.size(), kWriteTimeoutMs);
    pending_.clear();
    return sent;
  }

 private:
  [[gnu::noinline]] ssize_t ReadPiece(char* data, size_t size) {
    if (connection_.used == connection_.buffer.size()) {
      // An answer begun (a "100 Continue") goes out before the wait.
      if (!Flush()) return -1;
      // The library asks for a line's bytes one at a time and for a body
      // in small pieces; the socket is read in large ones.
      thread_local std::array<char, kStreamPiece> piece;
      auto read = platform::ReadSocket(connection_.socket, piece.data(),
                                       piece.size(), kReadTimeoutMs);
      if (read.outcome != platform::SocketRead::kBytes) {
        return read.outcome == platform::SocketRead::kEnd ? 0 : -1;
      }
      connection_.buffer.assign(piece.data(), read.count);
      connection_.used = 0;
    }
    size_t count = std::min(size, connection_.buffer.size() - connection_.used);
    std::memcpy(data, connection_.buffer.data() + connection_.used, count);
    connection_.used += count;
    return static_cast<ssize_t>(count);
  }

  // The addresses of a connection do not change: asked once.
  void KnowAddresses() const {
    if (connection_.addresses_known) return;
    platform::PeerAddress(connection_.socket, connection_.peer_address,
                          connection_.peer_port);
    platform::LocalAddress(connection_.socket, connection_.local_address,
                           connection_.local_port);
    connection_.addresses_known = true;
  }

  // The serving thread's buffer, kept so that its room is not taken and
  // given back for every answer. A streamed body is read on a thread of its
  // own, which must flush this same buffer before it waits.
  static std::string& OutputBuffer() {
    thread_local std::string buffer;
    return buffer;
  }

  Connection& connection_;
  std::string& pending_;
};

// The HTTP library's server, which parses and answers each request, with
// the console's handling of connections: an accepted socket goes to
// Connections, whose workers call ServeOne once a whole head is there.
class HttpServer : public httplib::Server {
 public:
  explicit HttpServer(Connections*& connections) : connections_(connections) {}

  bool ServeOne(Connection& connection) {
    ConnectionStream stream(connection);
    bool last = connection.requests + 1 >= kMaxRequestsPerConnection;
    bool closed = false;
    answer_closes = false;
    bool answered = process_request(stream, last, closed, nullptr);
    bool sent = stream.Flush();
    return answered && sent && !last && !closed && !answer_closes;
  }

 private:
  bool process_and_close_socket(int socket) override {
    connections_->Accept(socket);
    return true;
  }

  Connections*& connections_;
};

// The server's task queue: its accept loop hands each socket on at once,
// and stopping the server stops the connections.
class HandOver : public httplib::TaskQueue {
 public:
  explicit HandOver(Connections& connections) : connections_(connections) {}
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override { connections_.Stop(); }

 private:
  Connections& connections_;
};

// Whether a request waits on another server or program: a post to the
// Mail, Whois or Gateway page. `head` starts with the request line.
bool WaitsOnPeers(std::string_view head) {
  constexpr std::string_view kPost = "POST ";
  if (!head.starts_with(kPost)) return false;
  std::string_view target = head.substr(kPost.size());
  for (std::string_view path : {"/mail", "/whois", "/gateway/wharfpost"}) {
    if (target.starts_with(path) && target.size() > path.size() &&
        (target[path.size()] == ' ' || target[path.size()] == '?')) {
      return true;
    }
  }
  return false;
}

}  // namespace

struct ConsoleServer::Impl {
  Impl(ConsoleSettings given, LogLine log_line)
      : settings(std::move(given)), log(std::move(log_line)) {}

  ConsoleSettings settings;
  LogLine log;
  Connections* connections_in_use = nullptr;
  HttpServer plain{connections_in_use};
  // With a certificate, the HTTP library's TLS server, which reads its
  // connections on a pool of its own instead of through Connections.
  std::unique_ptr<httplib::SSLServer> tls =
      settings.tls_certificate.empty()
          ? nullptr
          : std::make_unique<httplib::SSLServer>(
                settings.tls_certificate.c_str(), settings.tls_key.c_str());
  httplib::Server& server = tls ? static_cast<httplib::Server&>(*tls)
                                : static_cast<httplib::Server&>(plain);
  std::unique_ptr<Connections> connections;
  // Where Run and Stop meet: the library's own stop does nothing before
  // its loop runs, so a Stop that comes first is kept for Run.
  std::mutex run_mutex;
  bool stop_asked = false;
  bool run_entered = false;
  std::atomic<bool> run_ended{false};
  ServerAddress address;
  std::unique_ptr<RequestGuard> guard;
  std::unique_ptr<Access> access;
  // The pages whose GET shows a form and whose POST does the work, by path.
  std::map<std::string, PageHandler> pages;
  // What answers each address, by its whole path: GET (and HEAD), and POST
  // with the body still to read.
  std::map<std::string, httplib::Server::Handler, std::less<>> get_routes;
  std::map<std::string, httplib::Server::HandlerWithContentReader, std::less<>>
      post_routes;
  int port = 0;
  int listener = -1;

  void Configure() {
    server.set_socket_options([this](int socket) {
      (void)platform::AllowAddressReuse(socket);
      listener = socket;
    });
    ConnectionLimits limits;
    limits.workers = std::max<size_t>(settings.threads, 1);
    limits.waiting_workers = limits.workers;
    connections = std::make_unique<Connections>(
        limits,
        [this](Connection& connection) { return plain.ServeOne(connection); },
        [this](int status, const std::string& reason) {
          return RefusalAnswer(status, reason);
        },
        WaitsOnPeers);
    connections_in_use = connections.get();
    if (tls) {
      size_t workers = 2 * limits.workers;
      server.new_task_queue = [workers] {
        return new httplib::ThreadPool(workers);
      };
      server.set_read_timeout(kReadTimeoutMs / 1000, 0);
      server.set_write_timeout(kWriteTimeoutMs / 1000, 0);
    } else {
      server.new_task_queue = [this] { return new HandOver(*connections); };
    }
    // Each answer's Keep-Alive header states this count to the client.
    server.set_keep_alive_max_count(kMaxRequestsPerConnection);
    server.set_payload_max_length(settings.max_body);
    // The head and the body of an answer go out in separate writes; with
    // Nagle's algorithm the body waits for the client's delayed ACK.
    server.set_tcp_nodelay(true);
    server.set_post_routing_handler(
        [](const httplib::Request&, httplib::Response& response) {
          CompleteFields(response);
        });
    server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
          return BeforeRouting(request, response);
        });
    server.set_logger(
        [this](const httplib::Request& request,
               const httplib::Response& response) { Log(request, response); });
    server.set_error_handler(
        [](const httplib::Request&, httplib::Response& response) {
          if (!response.body.empty()) return;
          SendHtml(response, response.status,
                   StatusPage(response.status, StatusReason(response.status)));
        });
    server.set_exception_handler([](const httplib::Request&,
                                    httplib::Response& response,
                                    std::exception_ptr error) {
      SendHtml(response, 500, StatusPage(500, DescribeFailure(error)));
    });
    // Every address is matched whole in the console's own tables: one
    // look-up, where the library would try each route's pattern in turn.
    server.Get(".*", [this](const httplib::Request& request,
                            httplib::Response& response) {
      auto route = get_routes.find(request.path);
      if (route == get_routes.end()) {
        SendHtml(response, 404, StatusPage(404, StatusReason(404)));
        return;
      }
      route->second(request, response);
    });
    server.Post(".*", [this](const httplib::Request& request,
                             httplib::Response& response,
                             const httplib::ContentReader& reader) {
      auto route = post_routes.find(request.path);
      if (route != post_routes.end()) {
        route->second(request, response, reader);
        return;
      }
      // Read, so that the connection can carry the next request.
      std::string body;
      if (!ReadBody(request, reader, body, response)) return;
      SendHtml(response, 404, StatusPage(404, StatusReason(404)));
    });
    get_routes.emplace(
        "/style.css", [](const httplib::Request&, httplib::Response& response) {
          response.set_content(std::string(StyleSheet()), "text/css");
        });
    get_routes.emplace("/favicon.svg", [](const httplib::Request&,
                                          httplib::Response& response) {
      response.set_header("Cache-Control", "max-age=86400");
      response.set_content(std::string(FaviconSvg()), "image/svg+xml");
    });
    get_routes.emplace("/console.js", [](const httplib::Request& request,
                                         httplib::Response& response) {
      // Pages name the script with a version of its text, which a browser
      // may keep; any other address of it is checked again each time.
      response.set_header("Cache-Control",
                          request.has_param("v")
                              ? "public, max-age=31536000, immutable"
                              : "no-cache");
      response.set_content(std::string(ConsoleScript()),
                           "text/javascript; charset=utf-8");
    });
    get_routes.emplace("/login", [this](const httplib::Request& request,
                                        httplib::Response& response) {
      SendAccess(response, access->LogIn(AccessOf(request), ""));
    });
    post_routes.emplace("/login", [this](const httplib::Request& request,
                                         httplib::Response& response,
                                         const httplib::ContentReader& reader) {
      std::string body;
      if (!ReadBody(request, reader, body, response)) return;
      try {
        SendAccess(response, access->LogIn(AccessOf(request), body));
      } catch (const FormTooLarge& failure) {
        SendHtml(response, 413, StatusPage(413, failure.what()));
      }
    });
    RoutePost("/logout", [this](PageCall& call) {
      AccessAnswer answer = access->LogOut(AccessOf(call.request));
      PageAnswer page;
      page.status = answer.status;
      page.headers = std::move(answer.headers);
      return page;
    });
    Route("/", IndexPage);
    Route("/upload", UploadPage, Body::kStreamed);
    Route("/files", FilesPage, Body::kStreamed);
    RouteGet("/files/download", FileDownload);
    Route("/mail", MailPage);
    Route("/whois", WhoisPage);
    RouteGet("/gateway", GatewayFormPage);
    RouteGet("/gateway/", GatewayFormPage);
    RoutePost("/gateway/wharfpost", GatewayPostPage, Body::kStreamed);
    RouteGet("/gateway/result", GatewayResultPage);
    RouteGet("/Wharfposted.asp", GatewayOldResultPage);
    RouteGet("/gateway/Wharfposted.asp", GatewayOldResultPage);
  }

  // A refusal of a head or a connection, answered before the library sees the
  // request; the connection closes after it.
  std::string RefusalAnswer(int status, const std::string& reason) {
    std::string page = StatusPage(status, reason);
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " +
                         StatusText(status) + "\r\n";
    for (const auto& [name, value] : kSecurityFields) {
      answer.append(name).append(": ").append(value).append("\r\n");
    }
    answer += "Content-Type: text/html; charset=utf-8\r\nContent-Length: " +
              std::to_string(page.size()) + "\r\nConnection: close\r\n\r\n";
    WriteLog("(request head) " + std::to_string(status) + ' ' +
             LogText(reason) + '\n');
    return answer + page;
  }

  static std::string DescribeFailure(std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const Failure& failure) {
      return failure.source + " error " + std::to_string(failure.number) +
             ": " + failure.description;
    } catch (const std::exception& failure) {
      return failure.what();
    } catch (...) {
      return "An unknown failure.";
    }
  }

  httplib::Server::HandlerResponse BeforeRouting(
      const httplib::Request& request, httplib::Response& response) {
    request_start = Clock::now();
    // The server owns the request; only its handlers see it as const.
    auto& owned = const_cast<httplib::Request&>(request);
    if (std::ranges::find(kRangedPaths, request.path) == kRangedPaths.end()) {
      AnswerWhole(request);
    } else if (!request.ranges.empty()) {
      // A range is cut from the file as stored and sent as it is: the
      // library would compress the cut part under a Content-Range that
      // counts the file's own bytes.
      owned.headers.erase("Accept-Encoding");
    }
    RequestFacts facts = FactsOf(request);
    auto refusal = guard->Check(facts);
    if (!refusal) {
      if (RequestGuard::CarriesUnreadBody(facts)) {
        response.set_header("Connection", "close");
      }
      if (auto answer = access->Admit(AccessOf(request))) {
        // An unread body leaves the connection unusable.
        if (request.method == "POST")
          response.set_header("Connection", "close");
        SendAccess(response, *answer);
        return httplib::Server::HandlerResponse::Handled;
      }
      KeepBodyWhole(owned);
      return httplib::Server::HandlerResponse::Unhandled;
    }
    // The body of a refused request is never read, so the connection
    // cannot carry another request.
    response.set_header("Connection", "close");
    if (refusal->status != 413 ||
        !SendPageRefused(request, response, refusal->reason)) {
      SendHtml(response, refusal->status,
               StatusPage(refusal->status, refusal->reason));
    }
    return httplib::Server::HandlerResponse::Handled;
  }

  // A post too large for the console to take answered with its page's
  // form, empty, under the reason (413), so that the person can send
  // again at once; false, with nothing sent, when the path is no page or
  // the request may not see it.
  bool SendPageRefused(const httplib::Request& request,
                       httplib::Response& response, std::string_view reason) {
    auto page = pages.find(request.path);
    if (page == pages.end() || access->Admit(AccessOf(request))) return false;
    httplib::Request shown = request;
    shown.method = "GET";
    PageCall call{shown, {}, settings, address};
    PageAnswer answer = page->second(call);
    if (answer.file || !answer.content_type.empty()) return false;
    PageFrame frame{.current = request.path,
                    .navigation = true,
                    .log_out = access->Enabled()};
    SendHtml(response, 413,
             access->WithFormTokens(
                 CookieOf(request),
                 PageHtml(answer.title,
                          OutcomeHtml(false, Escape(reason), {}, "refusal") +
                              answer.body_html,
                          frame)));
    return true;
  }

  // A page whose GET shows it and whose POST does the work.
  void Route(const std::string& path, const PageHandler& page,
             Body body = Body::kWhole) {
    RouteGet(path, page);
    RoutePost(path, page, body);
    pages.emplace(path, page);
  }

  void RouteGet(const std::string& path, PageHandler page) {
    get_routes.emplace(path, [this, page](const httplib::Request& request,
                                          httplib::Response& response) {
      Serve(page, request, response, {});
    });
  }

  void RoutePost(const std::string& path, PageHandler page,
                 Body use = Body::kWhole) {
    post_routes.emplace(
        path, [this, page, use](const httplib::Request& request,
                                httplib::Response& response,
                                const httplib::ContentReader& reader) {
          if (use == Body::kStreamed && Streams(request)) {
            ServeStreamed(page, request, response, reader);
            return;
          }
          std::string body;
          if (!ReadBody(request, reader, body, response)) return;
          if (auto refusal = access->CheckForm(CookieOf(request),
                                               ContentTypeOf(request), body)) {
            SendHtml(response, 403, StatusPage(403, *refusal));
            return;
          }
          Serve(page, request, response, std::move(body));
        });
  }

  // Whether a request's body goes to its page as it arrives: a multipart
  // form of a stated length above kMostWholeUpload. Other bodies are read
  // whole.
  static bool Streams(const httplib::Request& request) {
    return FindIgnoringCase(ContentTypeOf(request), "multipart/form-data") ==
               0 &&
           !request.has_header("Transfer-Encoding") &&
           StatedLength(request.headers).value_or(0) > kMostWholeUpload;
  }

  // Runs the page while the body arrives, the form token checked in the
  // body's first part before the page sees any of it; what the page leaves
  // unread is read and dropped after it.
  void ServeStreamed(const PageHandler& page, const httplib::Request& request,
                     httplib::Response& response,
                     const httplib::ContentReader& reader) {
    std::optional<BodyStream> stream;
    stream.emplace(reader, StatedLength(request.headers).value_or(0));
    if (access->Enabled()) {
      std::string type = ContentTypeOf(request);
      std::string head;
      std::array<char, 4096> piece;
      while (head.size() < kMaxFormTokenHead &&
             !Access::ReachesPastFirstPart(type, head)) {
        size_t got = stream->ReadSome(piece.data(), piece.size());
        if (got == 0) break;
        head.append(piece.data(), got);
      }
      if (auto refusal = access->CheckForm(CookieOf(request), type, head)) {
        // The rest of the body is not read. The reader, stopped, marks
        // the answer as failed; the refusal is written after it.
        stream.reset();
        response.set_header("Connection", "close");
        SendHtml(response, 403, StatusPage(403, *refusal));
        return;
      }
      stream->Unread(std::move(head));
    }
    try {
      Serve(page, request, response, {}, &*stream);
    } catch (...) {
      FinishBody(*stream, response);
      throw;
    }
  }

  // Reads and drops what the page left of a streamed body. The reader
  // may write a failure into the answer, so this comes before the answer
  // is written.
  static void FinishBody(BodyStream& stream, httplib::Response& response) {
    if (!stream.Finish()) response.set_header("Connection", "close");
  }

  // Reads a request's body whole; false, with the refusal answered, when it
  // is cut short or over the limit.
  bool ReadBody(const httplib::Request& request,
                const httplib::ContentReader& reader, std::string& body,
                httplib::Response& response) {
    // A stated length (at most --max-body, which RequestGuard holds to) is
    // taken at once rather than grown by doubling; its pages are touched
    // only as the body arrives.
    if (auto length = StatedLength(request.headers)) {
      body.reserve(std::min<uint64_t>(*length, settings.max_body));
    }
    bool read = reader([&](const char* data, size_t length) {
      if (body.size() + length > settings.max_body) return false;
      body.append(data, length);
      return true;
    });
    if (!read) {
      std::string reason =
          "The request body could not be read whole or is larger than the "
          "console takes: at most " +
          HumanSize(settings.max_body) + " at once.";
      if (!SendPageRefused(request, response, reason)) {
        SendHtml(response, 413, StatusPage(413, reason));
      }
      response.set_header("Connection", "close");
    }
    return read;
  }

  void Serve(const PageHandler& page, const httplib::Request& request,
             httplib::Response& response, std::string body,
             BodyStream* stream = nullptr) {
    PageCall call{request, std::move(body), settings, address, stream};
    try {
      PageAnswer answer = page(call);
      if (stream) FinishBody(*stream, response);
      for (const auto& [name, value] : answer.headers) {
        response.set_header(name, value);
      }
      if (answer.file) {
        SendFile(request, response, *answer.file, answer.content_type);
        return;
      }
      AnswerWhole(request);
      if (!answer.content_type.empty()) {
        response.status = answer.status;
        response.set_content(answer.content, answer.content_type);
        return;
      }
      PageFrame frame{.current = request.path,
                      .navigation = true,
                      .log_out = access->Enabled()};
      SendHtml(response, answer.status,
               access->WithFormTokens(
                   CookieOf(request),
                   PageHtml(answer.title, answer.body_html, frame)));
    } catch (const FormTooLarge& failure) {
      if (stream) FinishBody(*stream, response);
      SendHtml(response, 413, StatusPage(413, failure.what()));
    }
  }

  void Log(const httplib::Request& request, const httplib::Response& response) {
    // A request the library could not parse never reached the routing.
    std::chrono::duration<double, std::milli> elapsed{};
    if (request_start != Clock::time_point{}) {
      elapsed = Clock::now() - request_start;
      request_start = {};
    }
    auto [length, connection] =
        FieldValues<2>(response.headers, {"Content-Length", "Connection"});
    uint64_t bytes = LengthOf(length).value_or(response.body.size());
    answer_closes = connection && *connection == "close";
    if (answer_closes && request.ssl) EndTlsInput(request.ssl);
    // The thread's line, kept so that its room is not taken for each one.
    thread_local std::string line;
    line.clear();
    // Cut so that a line stays within one whole write of the log (4 KiB
    // reach a pipe whole beside other workers' lines).
    AppendLogText(line, request.method, kLoggedMethod);
    line += ' ';
    AppendLogText(line, request.path, kLoggedPath);
    // " STATUS BYTES bytes MS ms", formatted without the C library's
    // printf, a measurable part of a small page's cost.
    char number[64];
    char* last = number + sizeof number;
    line += ' ';
    line.append(number, std::to_chars(number, last, response.status).ptr);
    line += ' ';
    line.append(number, std::to_chars(number, last, bytes).ptr);
    line += " bytes ";
    line.append(number, std::to_chars(number, last, elapsed.count(),
                                      std::chars_format::fixed, 1)
                            .ptr);
    line += " ms\n";
    WriteLog(line);
  }

  void WriteLog(const std::string& line) {
    try {
      log(line);
    } catch (...) {
      // The answer has gone out: a log that cannot be written (a closed
      // standard error) loses only its line, and must not stop the
      // request or the worker.
    }
  }
};

ConsoleServer::ConsoleServer(ConsoleSettings settings, LogLine log)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(log))) {}

ConsoleServer::~ConsoleServer() = default;

void ConsoleServer::Bind() {
  const auto& settings = impl_->settings;
  auto refuse = [](const std::string& reason) {
    throw Failure(kInvalidCall, "", reason);
  };
  if (impl_->tls && !impl_->tls->is_valid()) {
    refuse("cannot use the certificate " + settings.tls_certificate +
           " with the key " + settings.tls_key);
  }
  impl_->Configure();
  int port = settings.port;
  if (port == 0) {
    port = impl_->server.bind_to_any_port(settings.host);
    if (port < 0) port = 0;
  } else if (!impl_->server.bind_to_port(settings.host, port)) {
    port = 0;
  }
  if (port == 0) {
    refuse("cannot listen on " + settings.host + ":" +
           std::to_string(settings.port));
  }
  if (!platform::SetListenBacklog(impl_->listener, kListenBacklog)) {
    refuse("cannot widen the listening queue");
  }
  impl_->port = port;
  impl_->address = ServerAddress{settings.host, port};
  impl_->guard = std::make_unique<RequestGuard>(settings, port);
  try {
    impl_->access = std::make_unique<Access>(
        settings.access_token, settings.users_file, impl_->tls != nullptr);
  } catch (const Failure& failure) {
    refuse("cannot read the users file " + settings.users_file + ": " +
           failure.description);
  }
}

int ConsoleServer::Port() const { return impl_->port; }

bool ConsoleServer::Run() {
  {
    std::lock_guard lock(impl_->run_mutex);
    if (impl_->stop_asked) return true;
    impl_->run_entered = true;
  }
  bool served = false;
  try {
    if (!impl_->tls) impl_->connections->Start();
    served = impl_->server.listen_after_bind();
  } catch (const Failure&) {
    served = false;
  }
  impl_->run_ended = true;
  return served;
}

void ConsoleServer::Stop() {
  {
    std::lock_guard lock(impl_->run_mutex);
    impl_->stop_asked = true;
    if (!impl_->run_entered) return;  // Run will not start the loop
  }
  // Run is starting the loop or in it: stopped once it runs.
  while (!impl_->server.is_running() && !impl_->run_ended) {
    std::this_thread::yield();
  }
  impl_->server.stop();
}

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
// The console's refusals, decided from a request's method, headers and
// declared length before its body is read: a host name the console does not
// serve (whatever address it listens on, so that a name rebound to it by DNS
// reaches nothing), a POST from another origin, a body over the limit, too
// many headers, a body whose length is stated in ways that disagree.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "web/ConsoleSettings.h"

namespace corvane::web {

// What the guard looks at; empty text for a header that is missing.
struct RequestFacts {
  std::string method;
  std::string host;
  std::string origin;
  std::string referer;
  std::optional<unsigned long long> content_length;
  size_t header_count = 0;
  // The address the connection came in on, as the socket gives it.
  std::string local_address;
  // How the body is framed: the Transfer-Encoding as stated, and whether
  // Content-Length is stated more than once with different values.
  std::string transfer_encoding{};
  bool lengths_differ = false;
  // Whether a header field's name holds a blank or another byte no name
  // may hold.
  bool malformed_name = false;
};

struct Refusal {
  int status;
  std::string reason;
};

class RequestGuard {
 public:
  static constexpr size_t kMaxHeaders = 100;

  // `port` is the port the server is bound to. The host names served are
  // localhost and the loopback addresses, the listening address, the
  // settings' host names and origins, and the address a connection came
  // in on.
  RequestGuard(const ConsoleSettings& settings, int port);

  // nullopt when the request may go on; else the status (400, 403, 405,
  // 413, 431, 501) and a reason for the page.
  std::optional<Refusal> Check(const RequestFacts& facts) const;

  // Whether a request that may go on carries a body the console does not
  // read (a GET or HEAD with one): its connection must close after the
  // answer, or the body would be taken for the next request.
  static bool CarriesUnreadBody(const RequestFacts& facts);

  // "scheme://host[:port]" of a URL; empty when it has none.
  static std::string OriginOf(std::string_view url);

 private:
  bool ServesHost(std::string_view host, std::string_view local) const;
  bool Names(std::string_view host, std::string_view name) const;
  bool AllowsOrigin(const RequestFacts& facts) const;

  int port_;
  // The scheme of the console's own origin.
  std::string scheme_;
  std::vector<std::string> hosts_;
  std::vector<std::string> origins_;
  unsigned long long max_body_;
};

}  // namespace corvane::web

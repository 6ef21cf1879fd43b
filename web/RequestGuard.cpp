// SPDX-License-Identifier: Apache-2.0
#include "web/RequestGuard.h"

#include "frame/Text.h"
#include "web/FileFacts.h"
#include "web/Html.h"

namespace corvane::web {
namespace {

bool IsWildcard(std::string_view host) {
  return host.empty() || host == "0.0.0.0" || host == "::" || host == "[::]";
}

// A host as a Host header names it: IPv6 addresses in brackets.
std::string HostText(std::string_view host) {
  if (host.find(':') != std::string_view::npos && !host.starts_with('[')) {
    return "[" + std::string(host) + "]";
  }
  return std::string(host);
}

// Why a body's framing cannot be trusted (RFC 9112 6.1 and 6.3); nullopt
// when it can. A proxy in front that frames the body otherwise would have
// the rest of it taken here for another request.
std::optional<Refusal> FramingRefusal(const RequestFacts& facts) {
  if (facts.malformed_name) {
    return Refusal{400,
                   "A header field's name holds a blank or another "
                   "character no name may hold."};
  }
  if (facts.lengths_differ) {
    return Refusal{400,
                   "The request states its Content-Length more than once, "
                   "with different values."};
  }
  if (facts.transfer_encoding.empty()) return std::nullopt;
  if (facts.content_length) {
    return Refusal{400,
                   "The request states both a Content-Length and a "
                   "Transfer-Encoding."};
  }
  std::string_view codings = facts.transfer_encoding;
  size_t last = codings.rfind(',');
  std::string_view final_coding = TrimBlanks(
      last == std::string_view::npos ? codings : codings.substr(last + 1));
  if (!EqualsIgnoringCase(final_coding, "chunked")) {
    return Refusal{400,
                   "The request body's length cannot be known: its "
                   "Transfer-Encoding does not end with chunked."};
  }
  if (last != std::string_view::npos) {
    return Refusal{501, "The console reads no Transfer-Encoding but chunked."};
  }
  return std::nullopt;
}

}  // namespace

RequestGuard::RequestGuard(const ConsoleSettings& settings, int port)
    : port_(port),
      scheme_(settings.Scheme()),
      origins_(settings.origins),
      max_body_(settings.max_body) {
  std::vector<std::string> names{"localhost", "127.0.0.1", "[::1]"};
  if (!IsWildcard(settings.host)) names.push_back(HostText(settings.host));
  for (const auto& name : settings.host_names) {
    // A name given with its port is taken as it is.
    if (name.find(':') != std::string::npos && !name.starts_with('[')) {
      hosts_.push_back(name);
    } else {
      names.push_back(name);
    }
  }
  for (const auto& name : names) {
    hosts_.push_back(name + ":" + std::to_string(port));
    if (port == 80) hosts_.push_back(name);
  }
  for (const auto& origin : settings.origins) {
    size_t scheme_end = origin.find("://");
    if (scheme_end != std::string::npos) {
      hosts_.push_back(origin.substr(scheme_end + 3));
    }
  }
}

std::string RequestGuard::OriginOf(std::string_view url) {
  size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return {};
  size_t path = url.find_first_of("/?#", scheme_end + 3);
  return std::string(url.substr(0, path));
}

bool RequestGuard::Names(std::string_view host, std::string_view name) const {
  return EqualsIgnoringCase(host,
                            std::string(name) + ":" + std::to_string(port_)) ||
         (port_ == 80 && EqualsIgnoringCase(host, name));
}

bool RequestGuard::ServesHost(std::string_view host,
                              std::string_view local) const {
  if (host.empty()) return false;
  for (const auto& served : hosts_) {
    if (EqualsIgnoringCase(served, host)) return true;
  }
  // The address the client connected to (an IPv4 client of an IPv6
  // socket shows as a mapped address).
  if (local.starts_with("::ffff:") &&
      local.find('.') != std::string_view::npos) {
    local.remove_prefix(7);
  }
  return !local.empty() && Names(host, HostText(local));
}

bool RequestGuard::AllowsOrigin(const RequestFacts& facts) const {
  std::string origin =
      facts.origin.empty() ? OriginOf(facts.referer) : facts.origin;
  if (origin.empty()) return false;
  if (EqualsIgnoringCase(origin, scheme_ + "://" + facts.host)) return true;
  for (const auto& allowed : origins_) {
    if (EqualsIgnoringCase(origin, allowed)) return true;
  }
  return false;
}

std::optional<Refusal> RequestGuard::Check(const RequestFacts& facts) const {
  if (facts.header_count > kMaxHeaders) {
    return Refusal{431, "The request has too many header fields."};
  }
  if (auto refusal = FramingRefusal(facts)) return refusal;
  if (!ServesHost(facts.host, facts.local_address)) {
    return Refusal{
        403, "This console does not serve the host name " + facts.host + "."};
  }
  if (facts.method == "GET" || facts.method == "HEAD") return std::nullopt;
  if (facts.method != "POST") {
    return Refusal{405, "The console accepts GET and POST only."};
  }
  if (!AllowsOrigin(facts)) {
    return Refusal{403,
                   "A form of the console must be posted from the console's "
                   "own pages (the Origin or Referer header is missing or "
                   "names another site)."};
  }
  if (facts.content_length && *facts.content_length > max_body_) {
    return Refusal{413,
                   "The request body is larger than the console takes: "
                   "at most " +
                       HumanSize(max_body_) + " (" + std::to_string(max_body_) +
                       " bytes) at once."};
  }
  return std::nullopt;
}

bool RequestGuard::CarriesUnreadBody(const RequestFacts& facts) {
  return facts.method != "POST" && (facts.content_length.value_or(0) > 0 ||
                                    !facts.transfer_encoding.empty());
}

}  // namespace corvane::web

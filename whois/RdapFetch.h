// SPDX-License-Identifier: Apache-2.0
// One RDAP GET through libcurl: https with the system's trusted
// certificates, plain http to loopback addresses only, redirects followed
// and checked hop by hop, one deadline for the whole request and a bound
// on the answer's size, failures as the whois component's failures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::namewell {

// Redirects followed at most within one request.
inline constexpr int kMaxRedirects = 3;

struct FetchLimits {
  int connect_ms = 30000;
  int total_ms = 60000;  // the whole request, redirects included
  size_t max_bytes = 8 * 1024 * 1024;
  // Refuse servers at loopback or private addresses (a link that a public
  // server's answer led to); redirects from a public server to such an
  // address are refused whatever this says.
  bool refuse_internal = false;
};

// The caching headers of one HTTP answer, as written.
struct CachingHeaders {
  std::string cache_control{};
  std::string expires{};
  std::string date{};
  std::string age{};
  std::string last_modified{};
  std::string etag{};
};

struct FetchedAnswer {
  long status = 0;
  std::string body;
  std::string url;  // the URL that answered, after any redirects
  // The first server asked had a loopback or private address.
  bool first_internal = false;
  // The seconds a Retry-After header asked to wait (either form); 0 when
  // the answer has none.
  int32_t retry_after = 0;
  // The last hop's caching headers.
  CachingHeaders caching;
};

// Why `url` may not be asked (a scheme other than http and https, plain
// http to an address that is not loopback, no host); empty when it may.
std::string UrlProblem(std::string_view url);

// Whether `host` (as written in a URL) is 127.0.0.0/8, ::1 or localhost.
bool IsLoopbackHost(std::string_view host);

// GETs `url` with "Accept: application/rdap+json" and returns whatever
// status the last hop answered. A server refused by `refuse_internal` is a
// refusal (kQueryRefused) and gets no request. Throws Failure (source
// "Namewell") with the connect, read or refusal number and a description naming
// the URL when no answer arrives in time, within the bound, or at all.
// `headers` ("If-None-Match: ...") are sent besides the Accept header.
FetchedAnswer FetchRdap(const std::string& url, const FetchLimits& limits,
                        const std::vector<std::string>& headers = {});

// `name` with every byte but letters, digits, '-' and '.' percent-encoded,
// ready to stand in a URL path.
std::string PathSegment(std::string_view name);

}  // namespace corvane::namewell

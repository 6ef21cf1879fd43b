// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapFetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <mutex>

#include "frame/Text.h"
#include "net/WSKSOCK.h"
#include "platform/AddressScope.h"
#include "platform/Sockets.h"
#include "whois/WhoisQuery.h"

namespace corvane::namewell {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kConnectText[] =
    "Unable to establish connection with Whois Server. ";
constexpr char kReadText[] = "Network Error: Unable to read. ";

[[noreturn]] void Raise(int32_t number, std::string text,
                        const std::string& url) {
  throw Failure(number, std::string(kSource), text + " URL: " + url);
}

void StartCurlOnce() {
  static std::once_flag started;
  std::call_once(started, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Takes the body up to the bound; a longer one stops the transfer.
struct Sink {
  std::string* body;
  size_t max_bytes;
  bool too_long = false;
};

size_t TakeBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<Sink*>(user);
  size_t bytes = size * count;
  if (bytes > sink->max_bytes - sink->body->size()) {
    sink->too_long = true;
    return 0;
  }
  sink->body->append(data, bytes);
  return bytes;
}

bool IsDottedLoopback(std::string_view host) {
  int parts = 0;
  size_t at = 0;
  while (at <= host.size()) {
    size_t dot = std::min(host.find('.', at), host.size());
    std::string_view part = host.substr(at, dot - at);
    if (part.empty() || part.size() > 3 ||
        !std::all_of(part.begin(), part.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    int value = std::stoi(std::string(part));
    if (value > 255 || (parts == 0 && value != 127)) return false;
    ++parts;
    at = dot + 1;
  }
  return parts == 4;
}

// The text of a curl failure, ending in a full stop.
std::string CurlText(CURLcode code, const char* detail) {
  std::string text = detail && *detail ? detail : curl_easy_strerror(code);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

std::string SocketText(int32_t code) { return net::GetSocketErrorText(code); }

[[noreturn]] void RaiseTooLong(size_t max_bytes, const std::string& url) {
  Raise(kReadFailed,
        std::string(kReadText) + "The reply is longer than " +
            std::to_string(max_bytes) + " bytes.",
        url);
}

// A failed transfer as the component's connect or read failure.
[[noreturn]] void RaiseTransferFailure(CURL* handle, CURLcode code,
                                       const char* detail, const Sink& sink,
                                       const std::string& url) {
  if (sink.too_long || code == CURLE_FILESIZE_EXCEEDED) {
    RaiseTooLong(sink.max_bytes, url);
  }
  curl_off_t connected = 0;
  curl_easy_getinfo(handle, CURLINFO_CONNECT_TIME_T, &connected);
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
      Raise(kConnectFailed, kConnectText + SocketText(platform::kHostNotFound),
            url);
    case CURLE_COULDNT_CONNECT: {
      long os_error = 0;
      curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &os_error);
      std::string text = os_error ? SocketText(platform::SocketErrorFromErrno(
                                        static_cast<int>(os_error)))
                                  : std::string();
      Raise(kConnectFailed,
            kConnectText + (text.empty() ? CurlText(code, detail) : text), url);
    }
    case CURLE_OPERATION_TIMEDOUT:
      Raise(connected ? kReadFailed : kConnectFailed,
            (connected ? kReadText : kConnectText) +
                SocketText(platform::kSocketTimedOut),
            url);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
      Raise(kConnectFailed, kConnectText + CurlText(code, detail), url);
    default:
      Raise(kReadFailed, kReadText + CurlText(code, detail), url);
  }
}

// The address of the server a hop connected to, checked before the
// request is sent.
struct PeerCheck {
  bool refuse_internal = false;
  bool internal = false;
  bool refused = false;
  std::string address;
};

int CheckPeer(void* user, char* primary_ip, char*, int, int) {
  auto* check = static_cast<PeerCheck*>(user);
  check->address = primary_ip ? primary_ip : "";
  check->internal = platform::IsInternalAddress(check->address);
  if (check->internal && check->refuse_internal) {
    check->refused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  return CURL_PREREQFUNC_OK;
}

[[noreturn]] void RaiseInternal(const std::string& address,
                                const std::string& url) {
  Raise(kQueryRefused,
        "The RDAP link leads to a loopback or private address (" + address +
            "); it was not asked.",
        url);
}

// The URL's host when it is an address literal or localhost: such a
// server is refused before any connection.
std::string LiteralInternalHost(const std::string& url) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  char* host = nullptr;
  if (!parsed ||
      curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0) != CURLUE_OK) {
    return {};
  }
  std::unique_ptr<char, decltype(&curl_free)> owned(host, &curl_free);
  std::string_view text = host;
  if (text.size() > 2 && text.front() == '[' && text.back() == ']') {
    text = text.substr(1, text.size() - 2);
  }
  if (platform::IsInternalAddress(text) || IsLoopbackHost(text)) {
    return std::string(text);
  }
  return {};
}

// Keeps the caching headers of the answer; a redirect's hop starts anew.
size_t TakeHeader(char* data, size_t size, size_t count, void* user) {
  auto* caching = static_cast<CachingHeaders*>(user);
  size_t bytes = size * count;
  std::string_view line(data, bytes);
  if (line.starts_with("HTTP/")) *caching = {};
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return bytes;
  std::string_view name = TrimBlanks(line.substr(0, colon));
  std::string_view value = TrimOf(line.substr(colon + 1), " \t\r\n");
  static constexpr std::pair<std::string_view, std::string CachingHeaders::*>
      kKept[] = {
          {"cache-control", &CachingHeaders::cache_control},
          {"expires", &CachingHeaders::expires},
          {"date", &CachingHeaders::date},
          {"age", &CachingHeaders::age},
          {"last-modified", &CachingHeaders::last_modified},
          {"etag", &CachingHeaders::etag},
      };
  for (const auto& [wanted, field] : kKept) {
    if (!EqualsIgnoringCase(name, wanted)) continue;
    std::string& kept = caching->*field;
    // Several Cache-Control headers read as one list.
    if (!kept.empty() && field == &CachingHeaders::cache_control) kept += ", ";
    kept.append(value);
  }
  return bytes;
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 ||
         status == 308;
}

// One hop: the answer of `url` within `remaining_ms`; `location` is set
// when it is a redirect.
FetchedAnswer FetchOnce(const std::string& url, const FetchLimits& limits,
                        long remaining_ms, std::string& location,
                        PeerCheck& peer,
                        const std::vector<std::string>& extra_headers) {
  if (peer.refuse_internal) {
    if (std::string host = LiteralInternalHost(url); !host.empty()) {
      RaiseInternal(host, url);
    }
  }
  std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
  if (!handle) {
    Raise(kSocketFailed, "Unable to create a Socket. ", url);
  }
  std::unique_ptr<curl_slist, ListDeleter> headers(
      curl_slist_append(nullptr, "Accept: application/rdap+json"));
  for (const std::string& header : extra_headers) {
    if (curl_slist* longer = curl_slist_append(headers.get(), header.c_str())) {
      (void)headers.release();
      headers.reset(longer);
    }
  }
  FetchedAnswer answer;
  answer.url = url;
  Sink sink{&answer.body, limits.max_bytes};
  char detail[CURL_ERROR_SIZE] = {};
  CURL* h = handle.get();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_USERAGENT, "Corvane-Namewell");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
  curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, remaining_ms);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS,
                   std::min<long>(limits.connect_ms, remaining_ms));
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(limits.max_bytes));
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &TakeBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &TakeHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer.caching);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
  curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &CheckPeer);
  curl_easy_setopt(h, CURLOPT_PREREQDATA, &peer);
  CURLcode code = curl_easy_perform(h);
  if (peer.refused) RaiseInternal(peer.address, url);
  if (code != CURLE_OK) RaiseTransferFailure(h, code, detail, sink, url);
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_off_t retry_after = 0;
  if (curl_easy_getinfo(h, CURLINFO_RETRY_AFTER, &retry_after) == CURLE_OK &&
      retry_after > 0) {
    answer.retry_after =
        static_cast<int32_t>(std::min<curl_off_t>(retry_after, INT32_MAX));
  }
  char* next = nullptr;
  curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &next);
  location = IsRedirect(answer.status) && next ? next : "";
  return answer;
}

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  std::string lower = LowerCase(host);
  if (!lower.empty() && lower.back() == '.') lower.pop_back();
  return lower == "localhost" || lower == "[::1]" || lower == "::1" ||
         IsDottedLoopback(lower);
}

std::string UrlProblem(std::string_view url) {
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  std::string text(url);
  if (!parsed ||
      curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
    return "it is not an http or https URL";
  }
  char* scheme = nullptr;
  char* host = nullptr;
  curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0);
  curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0);
  std::unique_ptr<char, decltype(&curl_free)> owned_scheme(scheme, &curl_free);
  std::unique_ptr<char, decltype(&curl_free)> owned_host(host, &curl_free);
  if (!scheme || !host || !*host) return "it is not an http or https URL";
  if (EqualsIgnoringCase(scheme, "https")) return {};
  if (!EqualsIgnoringCase(scheme, "http")) {
    return "it is not an http or https URL";
  }
  if (!IsLoopbackHost(host)) {
    return "plain http is allowed to loopback addresses only";
  }
  return {};
}

FetchedAnswer FetchRdap(const std::string& url, const FetchLimits& limits,
                        const std::vector<std::string>& headers) {
  StartCurlOnce();
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(limits.total_ms);
  std::string current = url;
  PeerCheck peer;
  peer.refuse_internal = limits.refuse_internal;
  bool first_internal = false;
  for (int hop = 0;; ++hop) {
    if (std::string problem = UrlProblem(current); !problem.empty()) {
      Raise(kQueryRefused,
            hop == 0
                ? "The RDAP URL is refused (" + problem + "); nothing was sent."
                : "The RDAP server redirected to a refused URL (" + problem +
                      "); it was not asked.",
            current);
    }
    long remaining = std::chrono::duration_cast<std::chrono::milliseconds>(
                         deadline - Clock::now())
                         .count();
    if (remaining <= 0) {
      Raise(kReadFailed, kReadText + SocketText(platform::kSocketTimedOut),
            current);
    }
    std::string location;
    FetchedAnswer answer =
        FetchOnce(current, limits, remaining, location, peer, headers);
    if (hop == 0) {
      first_internal = peer.internal;
      peer.refuse_internal = peer.refuse_internal || !first_internal;
    }
    answer.first_internal = first_internal;
    if (location.empty()) return answer;
    if (hop == kMaxRedirects) {
      Raise(kReadFailed,
            kReadText + std::string("More than ") +
                std::to_string(kMaxRedirects) + " redirects.",
            current);
    }
    current = location;
  }
}

std::string PathSegment(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string segment;
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
        (c >= '0' && c <= '9') || c == '-' || c == '.') {
      segment += c;
    } else {
      segment += '%';
      segment += kHex[byte >> 4];
      segment += kHex[byte & 15];
    }
  }
  return segment;
}

}  // namespace corvane::namewell

// SPDX-License-Identifier: Apache-2.0
#include "whois/BootstrapCache.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "frame/Text.h"
#include "platform/AddressScope.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/SystemFolders.h"
#include "whois/WhoisQuery.h"

namespace corvane::namewell {
namespace {

using nlohmann::json;

// A folder named by an environment variable of the XDG convention, with
// "corvane/" below it; empty when the variable is unset or not absolute.
std::string XdgFolder(const char* variable) {
  std::optional<std::string> value = platform::EnvironmentVariable(variable);
  if (!value || value->empty() || value->front() != '/') return {};
  std::string folder = *value;
  if (folder.back() != '/') folder += '/';
  return folder + "corvane/";
}

std::string StatePath(Registry registry) {
  return CachedBootstrapPath(registry) + ".state";
}

// A whole number as written (a header's seconds, a prefix length, an AS
// number); nullopt when it is none.
std::optional<int64_t> WholeNumber(std::string_view text) {
  text = TrimBlanks(text);
  int64_t value = 0;
  auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) {
    return std::nullopt;
  }
  return value;
}

// An HTTP date; nullopt when it is none (as "0" is).
std::optional<int64_t> HttpDate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  time_t when = curl_getdate(text.c_str(), nullptr);
  if (when < 0) return std::nullopt;
  return static_cast<int64_t>(when);
}

// The Cache-Control directive `name`: its value after '=' (unquoted), or
// an empty text when it has none; nullopt when it is absent.
std::optional<std::string_view> Directive(std::string_view list,
                                          std::string_view name) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = TrimBlanks(list.substr(0, comma));
    list = comma == std::string_view::npos ? "" : list.substr(comma + 1);
    size_t equals = item.find('=');
    if (!EqualsIgnoringCase(TrimBlanks(item.substr(0, equals)), name)) continue;
    if (equals == std::string_view::npos) return std::string_view();
    std::string_view value = TrimBlanks(item.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

CacheState ReadState(Registry registry) {
  CacheState state;
  try {
    json saved = json::parse(
        platform::Files().ReadRegularFile(StatePath(registry), 64 * 1024));
    state.url = saved.value("url", "");
    state.etag = saved.value("etag", "");
    state.last_modified = saved.value("last_modified", "");
    state.expires = saved.value("expires", int64_t{0});
    state.next_attempt = saved.value("next_attempt", int64_t{0});
  } catch (...) {
    // No state, or a damaged one: the copy counts as stale.
  }
  return state;
}

void WriteState(Registry registry, const CacheState& state) {
  json saved = {{"url", state.url},
                {"etag", state.etag},
                {"last_modified", state.last_modified},
                {"expires", state.expires},
                {"next_attempt", state.next_attempt}};
  platform::WriteFileReplacing(StatePath(registry), saved.dump(2) + "\n");
}

// `address` as 16 bytes (IPv4 as its mapped IPv6 form) and its prefix
// length in the same terms; false when it is no address.
bool ParsePrefix(std::string_view text, std::array<uint8_t, 16>& bytes,
                 int& length) {
  size_t slash = text.find('/');
  std::string address(text.substr(0, slash));
  bool v6 = address.find(':') != std::string::npos;
  int full = v6 ? 128 : 32;
  length = full;
  if (slash != std::string_view::npos) {
    std::optional<int64_t> bits = WholeNumber(text.substr(slash + 1));
    if (!bits || *bits > full) return false;
    length = static_cast<int>(*bits);
  }
  bool is_v6 = false;
  if (!platform::AddressBytes(address, bytes, is_v6) || is_v6 != v6) {
    return false;
  }
  if (!v6) length += 96;
  return true;
}

// Whether the first `length` bits of `a` and `b` agree.
bool SamePrefix(const std::array<uint8_t, 16>& a,
                const std::array<uint8_t, 16>& b, int length) {
  for (int bit = 0; bit < length; bit += 8) {
    int take = std::min(8, length - bit);
    auto mask = static_cast<uint8_t>(0xff << (8 - take));
    if (((a[bit / 8] ^ b[bit / 8]) & mask) != 0) return false;
  }
  return true;
}

// An AS range entry ("1-1876" or "7"); false when it is none.
bool ParseAsRange(std::string_view entry, uint64_t& low, uint64_t& high) {
  size_t dash = entry.find('-');
  std::optional<int64_t> first = WholeNumber(entry.substr(0, dash));
  std::optional<int64_t> last = dash == std::string_view::npos
                                    ? first
                                    : WholeNumber(entry.substr(dash + 1));
  if (!first || !last || *first > *last) return false;
  low = static_cast<uint64_t>(*first);
  high = static_cast<uint64_t>(*last);
  return true;
}

// Whether an entry is of the registry's kind.
bool EntryOfKind(Registry registry, const std::string& entry) {
  std::array<uint8_t, 16> bytes{};
  int length = 0;
  uint64_t low = 0;
  uint64_t high = 0;
  switch (registry) {
    case Registry::kDns:
      return entry.find_first_of("/:") == std::string::npos &&
             !ParseAsRange(entry, low, high);
    case Registry::kIpv4:
      return entry.find(':') == std::string::npos &&
             ParsePrefix(entry, bytes, length);
    case Registry::kIpv6:
      return entry.find(':') != std::string::npos &&
             ParsePrefix(entry, bytes, length);
    case Registry::kAsn:
      return ParseAsRange(entry, low, high);
  }
  return false;
}

// The bootstrap that a 200 answer from `url` brought. Throws Failure
// "<url> is not an RDAP bootstrap file: ..." when it is none or lists no
// entries of the registry's kind.
RdapBootstrap ReadFetched(Registry registry, const std::string& url,
                          std::string_view body) {
  try {
    RdapBootstrap bootstrap = ReadBootstrap(body);
    if (std::none_of(bootstrap.servers.begin(), bootstrap.servers.end(),
                     [&](const auto& entry) {
                       return EntryOfKind(registry, entry.first);
                     })) {
      throw Failure(
          kInvalidFileFormat, "",
          std::string("it lists no entries of ") + RegistryFile(registry));
    }
    return bootstrap;
  } catch (Failure& failure) {
    failure.description =
        url + " is not an RDAP bootstrap file: " + failure.description;
    throw;
  }
}

int64_t Now() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

const char* RegistryFile(Registry registry) {
  switch (registry) {
    case Registry::kDns:
      return "dns.json";
    case Registry::kIpv4:
      return "ipv4.json";
    case Registry::kIpv6:
      return "ipv6.json";
    case Registry::kAsn:
      return "asn.json";
  }
  return "dns.json";
}

int64_t FreshUntil(const CachingHeaders& headers, int64_t now) {
  const std::string& control = headers.cache_control;
  if (Directive(control, "no-store") || Directive(control, "no-cache")) {
    return now;
  }
  int64_t age = WholeNumber(headers.age).value_or(0);
  if (auto max_age = Directive(control, "max-age")) {
    std::optional<int64_t> seconds = WholeNumber(*max_age);
    return seconds ? now + std::max<int64_t>(0, *seconds - age) : now;
  }
  std::optional<int64_t> date = HttpDate(headers.date);
  if (!headers.expires.empty()) {
    // An Expires that is no date ("0") means already expired.
    std::optional<int64_t> expires = HttpDate(headers.expires);
    if (!expires) return now;
    return now + std::max<int64_t>(0, *expires - date.value_or(now));
  }
  if (std::optional<int64_t> modified = HttpDate(headers.last_modified)) {
    int64_t since = date.value_or(now) - *modified;
    return now + std::clamp<int64_t>(since / 10, 0, kDefaultFreshSeconds);
  }
  return now + kDefaultFreshSeconds;
}

bool NeedsFetch(const CacheState& state, bool copy_present,
                std::string_view url, int64_t now) {
  if (now < state.next_attempt) return false;
  return !copy_present || state.url != url || now >= state.expires;
}

std::string BootstrapCacheFolder() {
  std::string folder = XdgFolder("XDG_CACHE_HOME");
  return folder.empty()
             ? platform::SystemFolderPath(platform::SystemFolder::kCache)
             : folder;
}

std::string CachedBootstrapPath(Registry registry) {
  return BootstrapCacheFolder() + "rdap-" + RegistryFile(registry);
}

std::string OverridePath() {
  std::string folder = XdgFolder("XDG_CONFIG_HOME");
  if (folder.empty()) {
    folder = platform::SystemFolderPath(platform::SystemFolder::kConfiguration);
  }
  return folder + kOverrideFile;
}

std::string DefaultBootstrapUrl() {
  std::string url = platform::EnvironmentVariable(kBootstrapUrlVariable)
                        .value_or(kIanaBootstrapUrl);
  if (url.empty()) url = kIanaBootstrapUrl;
  if (url.back() != '/') url += '/';
  return url;
}

RefreshResult RefreshBootstrap(Registry registry, const std::string& base_url,
                               bool force, int timeout_ms) {
  RefreshResult result;
  result.path = CachedBootstrapPath(registry);
  std::string url = base_url;
  if (!url.empty() && url.back() != '/') url += '/';
  url += RegistryFile(registry);
  const int64_t now = Now();
  CacheState state = ReadState(registry);
  bool present = platform::PathEntryExists(result.path);
  if (!force && !NeedsFetch(state, present, url, now)) {
    result.outcome = RefreshResult::Outcome::kFresh;
    return result;
  }
  std::vector<std::string> headers;
  if (present && state.url == url) {
    if (!state.etag.empty()) headers.push_back("If-None-Match: " + state.etag);
    if (!state.last_modified.empty()) {
      headers.push_back("If-Modified-Since: " + state.last_modified);
    }
  }
  std::error_code ignored;
  std::filesystem::create_directories(BootstrapCacheFolder(), ignored);
  FetchedAnswer answer;
  try {
    answer = FetchRdap(url,
                       {.connect_ms = timeout_ms,
                        .total_ms = timeout_ms,
                        .max_bytes = kBootstrapLimit},
                       headers);
    if (answer.status == 200) {
      result.bootstrap = ReadFetched(registry, url, answer.body);
      result.outcome = RefreshResult::Outcome::kFetched;
    } else if (answer.status == 304 && !headers.empty()) {
      result.outcome = RefreshResult::Outcome::kNotModified;
    } else {
      throw Failure(kReadFailed, "",
                    "The bootstrap server answered " +
                        std::to_string(answer.status) + ". URL: " + url);
    }
  } catch (const Failure&) {
    // The copy stays as it was; no fetch for a while.
    state.next_attempt = now + kRetryAfterFailureSeconds;
    try {
      WriteState(registry, state);
    } catch (const Failure&) {
      // The fetch's failure, rethrown below, is the one reported; without
      // the wait recorded the next lookup merely tries again.
    }
    throw;
  }
  try {
    if (result.outcome == RefreshResult::Outcome::kFetched) {
      platform::WriteFileReplacing(result.path, answer.body);
      state.etag = answer.caching.etag;
      state.last_modified = answer.caching.last_modified;
    }
    // A 304 may renew the validators as well as the freshness.
    if (!answer.caching.etag.empty()) state.etag = answer.caching.etag;
    if (!answer.caching.last_modified.empty()) {
      state.last_modified = answer.caching.last_modified;
    }
    state.url = url;
    state.expires = FreshUntil(answer.caching, now);
    state.next_attempt = 0;
    WriteState(registry, state);
  } catch (Failure& failure) {
    failure.description =
        "The RDAP bootstrap cannot be stored: " + failure.description;
    throw;
  }
  return result;
}

RdapBootstrap OverrideTable() {
  std::string path = OverridePath();
  if (!platform::PathEntryExists(path)) return {};
  try {
    return ReadBootstrapFile(path).bootstrap;
  } catch (const Failure&) {
    // An unreadable or refused override is left out: the registry's table
    // still serves.
    return {};
  }
}

RdapBootstrap LoadRegistry(Registry registry) {
  RdapBootstrap table = OverrideTable();
  RdapBootstrap base;
  try {
    base = ReadBootstrapFile(CachedBootstrapPath(registry)).bootstrap;
  } catch (const Failure&) {
    if (registry != Registry::kDns) throw;
    // No usable copy of the domain registry's file: the shipped table
    // serves instead, and its failure is the one reported.
    base = LoadBootstrap();
  }
  // std::map::merge keeps the override's entry where both list one.
  table.servers.merge(base.servers);
  table.publication = base.publication;
  return table;
}

std::string RdapBaseForAddress(const RdapBootstrap& bootstrap,
                               std::string_view address) {
  std::array<uint8_t, 16> wanted{};
  int wanted_length = 0;
  if (!ParsePrefix(address, wanted, wanted_length)) return {};
  // A prefix covers addresses of its own family only (an IPv4 prefix no
  // mapped IPv6 address).
  bool wanted_v6 = address.find(':') != std::string_view::npos;
  int best = -1;
  std::string chosen;
  for (const auto& [entry, base] : bootstrap.servers) {
    std::array<uint8_t, 16> prefix{};
    int length = 0;
    if ((entry.find(':') != std::string::npos) != wanted_v6 ||
        !ParsePrefix(entry, prefix, length) || length > wanted_length ||
        length <= best || !SamePrefix(prefix, wanted, length)) {
      continue;
    }
    best = length;
    chosen = base;
  }
  return chosen;
}

std::string RdapBaseForAsn(const RdapBootstrap& bootstrap, uint32_t number) {
  uint64_t narrowest = UINT64_MAX;
  std::string chosen;
  for (const auto& [entry, base] : bootstrap.servers) {
    uint64_t low = 0;
    uint64_t high = 0;
    if (!ParseAsRange(entry, low, high) || number < low || number > high ||
        high - low >= narrowest) {
      continue;
    }
    narrowest = high - low;
    chosen = base;
  }
  return chosen;
}

}  // namespace corvane::namewell

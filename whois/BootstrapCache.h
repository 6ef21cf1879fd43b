// SPDX-License-Identifier: Apache-2.0
// The RDAP bootstraps (domains, IPv4, IPv6, AS numbers) as a lookup uses
// them: a copy fetched from the registry kept in a cache folder and renewed
// when its HTTP caching allows, an override file of the administrator's,
// and the shipped domain table as the fall-back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "whois/RdapBootstrap.h"
#include "whois/RdapFetch.h"

namespace corvane::namewell {

// The folder the registry publishes its bootstrap files in, and the
// environment variable that replaces it (a test's loopback server).
inline constexpr char kIanaBootstrapUrl[] = "https://data.iana.org/rdap/";
inline constexpr char kBootstrapUrlVariable[] = "CORVANE_RDAP_BOOTSTRAP_URL";

// The override file, in the configuration folder: entries of the bootstrap
// format for names, networks and AS numbers the registry does not list;
// its entries win over the registry's.
inline constexpr char kOverrideFile[] = "rdap-override.json";

// How long a copy fetched without caching headers stays fresh, and how
// long no fetch is tried after one failed.
inline constexpr int64_t kDefaultFreshSeconds = 24 * 3600;
inline constexpr int64_t kRetryAfterFailureSeconds = 3600;

// The four registries of RDAP bootstraps.
enum class Registry { kDns, kIpv4, kIpv6, kAsn };

// The registry's file name ("dns.json", "ipv4.json", "ipv6.json",
// "asn.json").
const char* RegistryFile(Registry registry);

// What the cache keeps beside a fetched copy.
struct CacheState {
  std::string url{};            // where the copy came from
  std::string etag{};           // its validators, for a conditional GET
  std::string last_modified{};  // (either may be empty)
  int64_t expires = 0;          // seconds since the epoch: fresh before this
  int64_t next_attempt = 0;     // no fetch before this (after a failure)
};

// The time (seconds since the epoch) until which an answer received at
// `now` stays fresh: no-store or no-cache make it stale at once; else
// max-age less Age; else Expires, corrected by the server's Date; else a
// tenth of its age by Last-Modified, at most kDefaultFreshSeconds; else
// kDefaultFreshSeconds. Never fails.
int64_t FreshUntil(const CachingHeaders& headers, int64_t now);

// Whether a lookup at `now` should fetch the registry's file: the copy is
// missing, from another URL or stale, and no failed fetch asked to wait.
bool NeedsFetch(const CacheState& state, bool copy_present,
                std::string_view url, int64_t now);

// The cache folder, with its trailing '/': $XDG_CACHE_HOME/corvane/ when
// that is set, else the suite's cache folder (/var/cache/corvane/ when
// installed). Never fails.
std::string BootstrapCacheFolder();

// The cached copy of the registry's file ("rdap-dns.json", ...).
std::string CachedBootstrapPath(Registry registry);

// The override file: $XDG_CONFIG_HOME/corvane/ when that is set, else the
// suite's configuration folder (/etc/corvane/ when installed).
std::string OverridePath();

// The URL the registries' files are fetched from: $CORVANE_RDAP_BOOTSTRAP_URL
// when set, else kIanaBootstrapUrl; always ending in "/".
std::string DefaultBootstrapUrl();

struct RefreshResult {
  enum class Outcome { kFresh, kFetched, kNotModified };
  Outcome outcome = Outcome::kFresh;
  std::string path;         // the cached copy
  RdapBootstrap bootstrap;  // the copy fetched (kFetched only)
};

// Renews the cached copy of `registry` from `base_url` (a folder URL; the
// registry's file name is appended): nothing when `force` is false and the
// copy is fresh; else a GET, conditional on the copy's validators. A 304
// keeps the copy and renews its freshness; a 200 whose body is a bootstrap
// with entries of the registry's kind replaces the copy through a new file
// renamed into place. Anything else throws Failure with the reason: a
// failed fetch, another status or a refused body leave the copy as it was
// and no fetch is tried for kRetryAfterFailureSeconds; a copy or state
// that cannot be written gives "The RDAP bootstrap cannot be stored: ...".
RefreshResult RefreshBootstrap(Registry registry, const std::string& base_url,
                               bool force, int timeout_ms);

// The override file's entries; an empty table when there is no override
// file or it cannot be read or is refused. Never fails.
RdapBootstrap OverrideTable();

// The table a lookup of `registry` uses: the override file's entries, then
// the cached copy's, or for domains the shipped file's when no copy can be
// read. Throws Failure with the reason when neither the copy nor (for
// domains) the shipped file can be read or is accepted; OverrideTable then
// gives the entries that remain.
[[nodiscard]] RdapBootstrap LoadRegistry(Registry registry);

// The base URL for an address (dotted IPv4 or IPv6 text, optionally with
// "/length") by the longest prefix the table lists; empty when none.
std::string RdapBaseForAddress(const RdapBootstrap& bootstrap,
                               std::string_view address);

// The base URL for an AS number by the ranges ("1-1876") and numbers the
// table lists; empty when none.
std::string RdapBaseForAsn(const RdapBootstrap& bootstrap, uint32_t number);

}  // namespace corvane::namewell

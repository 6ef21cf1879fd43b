// SPDX-License-Identifier: Apache-2.0
// The table of RDAP servers by domain label (the bootstrap registry's
// dns.json format): reading and checking it, finding the server for a
// name, and installing a new copy of the data file.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace corvane::namewell {

// The data file the bootstrap is read from, found through DataFilePath.
inline constexpr char kBootstrapFile[] = "rdap-bootstrap.json";

// Largest bootstrap file read; the registry's own is about 100 KB.
inline constexpr size_t kBootstrapLimit = 4 * 1024 * 1024;

struct RdapBootstrap {
  // Lower-case entry ("com", "example.zz") to the base URL chosen for it
  // (the first https one, else the first), always ending in "/".
  std::map<std::string, std::string, std::less<>> servers;
  std::string publication;
};

// The bootstrap that `text` holds. Throws Failure (kInvalidFileFormat)
// whose description says what is wrong: not JSON, a missing or mistyped
// member, a wrong version, a service without entries or without an
// http/https URL.
[[nodiscard]] RdapBootstrap ReadBootstrap(std::string_view text);

// A bootstrap file's text and the bootstrap it holds.
struct BootstrapFile {
  std::string text;
  RdapBootstrap bootstrap;
};

// The bootstrap file at `path`. Throws Failure "<path> cannot be read:
// <reason>" or "<path> is not an RDAP bootstrap file: <what is wrong>".
[[nodiscard]] BootstrapFile ReadBootstrapFile(std::string_view path);

// The base URL for `ascii_name` by the longest run of its last labels that
// the table lists, compared without regard to case; empty when none.
std::string RdapBaseFor(const RdapBootstrap& bootstrap,
                        std::string_view ascii_name);

// The last label of `ascii_name` in lower case (without a final dot).
std::string TopLevelLabel(std::string_view ascii_name);

// Where the bootstrap is read from and installed to.
std::string BootstrapPath();

// The installed bootstrap. Throws Failure naming the file and the reason
// when it cannot be read or is refused.
[[nodiscard]] RdapBootstrap LoadBootstrap();

// Checks the file at `source` and, when it is a bootstrap, replaces the
// installed file with it through a new file renamed into place, so the
// installed one is never half-written; returns the bootstrap installed.
// Throws Failure naming the file and the reason when it cannot be read, is
// refused or cannot replace the installed one (which is then unchanged).
RdapBootstrap InstallBootstrap(std::string_view source);

}  // namespace corvane::namewell

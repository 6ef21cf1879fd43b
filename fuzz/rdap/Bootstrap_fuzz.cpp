// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bootstrap files to the reader of the RDAP bootstrap
// table: a refused text leaves the table empty with a reason; an accepted
// one maps lower-case entries to URLs that end in "/", and the lookup of
// any name gives one of them or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "whois/RdapBootstrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto read = corvane::namewell::ReadBootstrap(text);
  if (!read.problem.empty()) {
    if (!read.bootstrap.servers.empty()) std::abort();
    return 0;
  }
  for (const auto& [entry, url] : read.bootstrap.servers) {
    if (url.empty() || url.back() != '/') std::abort();
    for (char c : entry) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
  }
  for (std::string_view name : {"example.com", "a.b.example.zz", "zz", ""}) {
    std::string base = corvane::namewell::RdapBaseFor(read.bootstrap, name);
    if (base.empty()) continue;
    bool listed = false;
    for (const auto& [entry, url] : read.bootstrap.servers) {
      listed = listed || url == base;
    }
    if (!listed) std::abort();
  }
  return 0;
}

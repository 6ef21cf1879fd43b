// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bootstrap files to the reader of the RDAP bootstrap
// table: a refused text throws Failure with a reason and nothing else; an
// accepted one maps lower-case entries to URLs that end in "/", and the
// lookup of any name gives one of them or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Failure.h"
#include "whois/RdapBootstrap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  corvane::namewell::RdapBootstrap bootstrap;
  try {
    bootstrap = corvane::namewell::ReadBootstrap(text);
  } catch (const corvane::Failure& failure) {
    if (failure.description.empty()) std::abort();
    return 0;
  }
  for (const auto& [entry, url] : bootstrap.servers) {
    if (url.empty() || url.back() != '/') std::abort();
    for (char c : entry) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
  }
  for (std::string_view name : {"example.com", "a.b.example.zz", "zz", ""}) {
    std::string base = corvane::namewell::RdapBaseFor(bootstrap, name);
    if (base.empty()) continue;
    bool listed = false;
    for (const auto& [entry, url] : bootstrap.servers) {
      listed = listed || url == base;
    }
    if (!listed) std::abort();
  }
  return 0;
}

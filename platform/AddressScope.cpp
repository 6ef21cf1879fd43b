// SPDX-License-Identifier: Apache-2.0
#include "platform/AddressScope.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace corvane::platform {
namespace {

struct Range {
  uint32_t base;
  int bits;
};

constexpr Range kInternalIPv4[] = {
    {0x00000000u, 8},  {0x0A000000u, 8},  {0x64400000u, 10}, {0x7F000000u, 8},
    {0xA9FE0000u, 16}, {0xAC100000u, 12}, {0xC0000000u, 24}, {0xC0A80000u, 16},
    {0xC6120000u, 15}, {0xE0000000u, 3},
};

}  // namespace

bool IsInternalAddress(uint32_t ipv4_network_order) {
  uint32_t host = ntohl(ipv4_network_order);
  for (const Range& range : kInternalIPv4) {
    uint32_t mask = ~uint32_t{0} << (32 - range.bits);
    if ((host & mask) == range.base) return true;
  }
  return false;
}

bool IsInternalAddress(std::string_view literal) {
  if (literal.size() >= INET6_ADDRSTRLEN) return false;
  std::string text(literal);
  in_addr v4{};
  if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
    return IsInternalAddress(v4.s_addr);
  }
  std::array<unsigned char, 16> v6{};
  if (inet_pton(AF_INET6, text.c_str(), v6.data()) != 1) return false;
  static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0,    0,
                                                0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(v6.data(), kMapped, 12) == 0) {
    uint32_t embedded = 0;
    std::memcpy(&embedded, v6.data() + 12, 4);
    return IsInternalAddress(embedded);
  }
  bool leading_zeros = std::all_of(v6.begin(), v6.begin() + 15,
                                   [](unsigned char b) { return b == 0; });
  if (leading_zeros && v6[15] <= 1) return true;       // :: and ::1
  return (v6[0] & 0xfe) == 0xfc ||                     // unique local
         (v6[0] == 0xfe && (v6[1] & 0xc0) == 0x80) ||  // link-local
         v6[0] == 0xff;                                // multicast
}

bool IsAddressLiteral(std::string_view literal) {
  if (literal.size() >= INET6_ADDRSTRLEN) return false;
  std::string text(literal);
  std::array<unsigned char, 16> bytes{};
  return inet_pton(AF_INET, text.c_str(), bytes.data()) == 1 ||
         inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1;
}

bool AddressBytes(std::string_view literal, std::array<uint8_t, 16>& bytes,
                  bool& v6) {
  std::string text(literal);
  bytes = {};
  v6 = text.find(':') != std::string::npos;
  if (v6) return inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1;
  if (inet_pton(AF_INET, text.c_str(), bytes.data() + 12) != 1) return false;
  bytes[10] = bytes[11] = 0xff;
  return true;
}

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// Tells addresses that reach only this machine or a private network
// (loopback, private ranges, link-local, ...) from public ones, so that a
// client led on by a server's answer can refuse to be led inside.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/Export.h"

namespace corvane::platform {

// Whether the IPv4 address (network byte order) is this machine's, a
// private network's or otherwise not a public host's: 0/8, 10/8, 100.64/10,
// 127/8, 169.254/16, 172.16/12, 192.0.0/24, 192.168/16, 198.18/15,
// multicast and reserved (224/3).
CORVANE_API bool IsInternalAddress(uint32_t ipv4_network_order);

// The same for a textual IPv4 or IPv6 address ("10.0.0.1", "::1",
// "fe80::1", an IPv4-mapped IPv6 address by its IPv4 part); IPv6 loopback,
// unspecified, unique-local (fc00::/7), link-local (fe80::/10) and
// multicast count as internal. Text that is no address gives false.
CORVANE_API bool IsInternalAddress(std::string_view literal);

// Whether the text is a numeric IPv4 or IPv6 address (without brackets).
CORVANE_API bool IsAddressLiteral(std::string_view literal);

// The numeric address as 16 bytes in network order: an IPv6 address as
// written, an IPv4 address in its mapped form (::ffff:a.b.c.d) with `v6`
// false. False, with the bytes zero, when the text is no address.
CORVANE_API bool AddressBytes(std::string_view literal,
                              std::array<uint8_t, 16>& bytes, bool& v6);

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/AddressScope.h"

#include <gtest/gtest.h>

namespace corvane::platform {
namespace {

TEST(AddressScopeTest, InternalAndPublicAddresses) {
  for (const char* internal :
       {"127.0.0.1", "127.9.9.9", "10.1.2.3", "172.16.0.1", "172.31.255.255",
        "192.168.1.1", "169.254.169.254", "100.64.0.1", "0.0.0.0", "224.0.0.1",
        "255.255.255.255", "::1", "::", "fc00::1", "fd12::1", "fe80::1",
        "ff02::1", "::ffff:127.0.0.1", "::ffff:10.0.0.1"}) {
    EXPECT_TRUE(IsInternalAddress(std::string_view(internal))) << internal;
    EXPECT_TRUE(IsAddressLiteral(internal)) << internal;
  }
  for (const char* outside :
       {"8.8.8.8", "172.32.0.1", "172.15.255.255", "192.0.2.1", "198.51.100.7",
        "100.128.0.1", "11.0.0.1", "2001:db8::1", "::ffff:8.8.8.8",
        "fec0::1"}) {
    EXPECT_FALSE(IsInternalAddress(std::string_view(outside))) << outside;
  }
  for (const char* text : {"", "localhost", "[::1]", "127.0.0.1:43",
                           "10.0.0.1.example", "1.2.3"}) {
    EXPECT_FALSE(IsInternalAddress(std::string_view(text))) << text;
    EXPECT_FALSE(IsAddressLiteral(text)) << text;
  }
  EXPECT_TRUE(IsInternalAddress(uint32_t{0x0100007Fu}));  // 127.0.0.1
  EXPECT_FALSE(IsInternalAddress(uint32_t{0x08080808u}));
}

}  // namespace
}  // namespace corvane::platform

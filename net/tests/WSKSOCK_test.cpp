// SPDX-License-Identifier: Apache-2.0
#include "net/WSKSOCK.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "net/tests/FakeSockets.h"

namespace corvane::net {
namespace {

using testing::FakeSockets;

// The loopback address in network byte order, as it sits in memory.
uint32_t Loopback() {
  const unsigned char bytes[4] = {127, 0, 0, 1};
  uint32_t address;
  std::memcpy(&address, bytes, sizeof address);
  return address;
}

TEST(WSKSOCK, StartAndEndKeepTheStartedFlag) {
  std::string description;
  ASSERT_TRUE(StartWinsock(description));
  EXPECT_FALSE(description.empty());
  EXPECT_TRUE(WinsockStarted());
  ASSERT_TRUE(StartWinsock(description));
  EndWinsock();
  EXPECT_TRUE(WinsockStarted()) << "a second start is still open";
  EndWinsock();
  EXPECT_FALSE(WinsockStarted());
  EndWinsock();  // one end too many does nothing
  EXPECT_FALSE(WinsockStarted());
}

TEST(WSKSOCK, DottedAddressNeedsNoLookup) {
  FakeSockets peer;
  EXPECT_EQ(GetHostAddress("127.0.0.1"), Loopback());
  EXPECT_EQ(peer.lookups, 0);
}

TEST(WSKSOCK, NamesAreLookedUp) {
  FakeSockets peer;
  EXPECT_EQ(GetHostAddress("localhost"), Loopback());
  EXPECT_EQ(GetHostAddress("no..where.invalid"), kAddressNone);
  EXPECT_EQ(LastSocketError(), 11001);
  EXPECT_EQ(peer.lookups, 2);
}

class NamelessSockets : public testing::FakeSockets {
 public:
  std::optional<std::string> name;
  std::optional<std::string> HostName() override { return name; }
};

TEST(WSKSOCK, LocalHostNameFallsBackToUnknown) {
  NamelessSockets peer;
  EXPECT_EQ(GetLocalHostName(), "Unknown");
  peer.name = "";
  EXPECT_EQ(GetLocalHostName(), "Unknown");
  peer.name = std::string("mailhost\0junk", 13);
  EXPECT_EQ(GetLocalHostName(), "mailhost");
}

TEST(WSKSOCK, GreetingNameIsQualifiedOrAnAddressLiteral) {
  testing::FakeSockets peer;
  EXPECT_EQ(GetGreetingName(7), "[127.0.0.1]");
  peer.qualified_name = "mail.example.org";
  EXPECT_EQ(GetGreetingName(7), "mail.example.org");
}

TEST(WSKSOCK, ErrorTextTable) {
  EXPECT_EQ(GetSocketErrorText(10061), "Connection refused.");
  EXPECT_EQ(GetSocketErrorText(10060), "Connection timed out.");
  EXPECT_EQ(GetSocketErrorText(10004), "Interrupted system call.");
  EXPECT_EQ(GetSocketErrorText(10013), "Permission Denied.");
  EXPECT_EQ(GetSocketErrorText(10047),
            "Address family not supported by protocol family.");
  EXPECT_EQ(GetSocketErrorText(10059), "Too many references: can't splice.");
  EXPECT_EQ(GetSocketErrorText(10071), "Too many levels of remote in path.");
  EXPECT_EQ(GetSocketErrorText(10092),
            "Winsock DLL cannot support this application.");
  EXPECT_EQ(GetSocketErrorText(10101), "Disconnect.");
  EXPECT_EQ(GetSocketErrorText(11004),
            "Valid name, no data record of requested type.");
}

TEST(WSKSOCK, CodesOutsideTheTableHaveNoText) {
  for (int32_t code : {0, -1, 10000, 10005, 10072, 10080, 10090, 10094, 10100,
                       10102, 11000, 11005}) {
    EXPECT_EQ(GetSocketErrorText(code), "") << code;
  }
  int known = 0;
  for (int32_t code = 10000; code <= 11010; ++code) {
    if (!GetSocketErrorText(code).empty()) ++known;
  }
  EXPECT_EQ(known, 51);
}

}  // namespace
}  // namespace corvane::net

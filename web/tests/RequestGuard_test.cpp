// SPDX-License-Identifier: Apache-2.0
#include "web/RequestGuard.h"

#include <gtest/gtest.h>

namespace corvane::web {
namespace {

struct GuardCase {
  const char* what;
  const char* listen;
  RequestFacts facts;
  int status;  // 0: the request goes on
};

RequestFacts Post(std::string host, std::string origin,
                  std::string referer = "") {
  return RequestFacts{
      "POST", std::move(host), std::move(origin), std::move(referer), 10, 5,
      ""};
}

TEST(RequestGuard, RefusesWhatTheConsoleMustNotServe) {
  const GuardCase cases[] = {
      {"own origin", "127.0.0.1",
       Post("127.0.0.1:8080", "http://127.0.0.1:8080"), 0},
      {"localhost", "127.0.0.1",
       Post("localhost:8080", "http://localhost:8080"), 0},
      {"host names compared without case", "127.0.0.1",
       Post("LOCALHOST:8080", "http://localhost:8080"), 0},
      {"referer of the console", "127.0.0.1",
       Post("127.0.0.1:8080", "", "http://127.0.0.1:8080/upload?x=1"), 0},
      {"other origin", "127.0.0.1", Post("127.0.0.1:8080", "http://evil.test"),
       403},
      {"origin with another port", "127.0.0.1",
       Post("127.0.0.1:8080", "http://127.0.0.1:9090"), 403},
      {"origin of another scheme", "127.0.0.1",
       Post("127.0.0.1:8080", "https://127.0.0.1:8080"), 403},
      {"no origin nor referer", "127.0.0.1", Post("127.0.0.1:8080", ""), 403},
      {"referer without a scheme", "127.0.0.1",
       Post("127.0.0.1:8080", "", "127.0.0.1:8080/upload"), 403},
      {"rebound host name", "127.0.0.1",
       Post("evil.test:8080", "http://evil.test:8080"), 403},
      {"missing host", "127.0.0.1", Post("", "http://127.0.0.1:8080"), 403},
      {"reverse proxy origin", "127.0.0.1",
       Post("console.example.org", "https://console.example.org"), 0},
      {"a name given to the console", "0.0.0.0",
       Post("box.lan:8080", "http://box.lan:8080"), 0},
      {"all addresses still check the origin", "0.0.0.0",
       Post("box.lan:8080", "http://evil.test"), 403},
      {"a rebound name when listening on all", "0.0.0.0",
       Post("evil.test:8080", "http://evil.test:8080"), 403},
      {"loopback when listening on all",
       "::", Post("localhost:8080", "http://localhost:8080"), 0},
      {"get needs no origin", "127.0.0.1",
       RequestFacts{"GET", "127.0.0.1:8080", "", "", {}, 3, ""}, 0},
      {"other methods", "127.0.0.1",
       RequestFacts{
           "DELETE", "127.0.0.1:8080", "http://127.0.0.1:8080", "", {}, 3, ""},
       405},
      {"body over the limit", "127.0.0.1",
       RequestFacts{"POST", "127.0.0.1:8080", "http://127.0.0.1:8080", "", 1001,
                    3, ""},
       413},
      {"body at the limit", "127.0.0.1",
       RequestFacts{"POST", "127.0.0.1:8080", "http://127.0.0.1:8080", "", 1000,
                    3, ""},
       0},
      {"too many headers", "127.0.0.1",
       RequestFacts{"GET", "127.0.0.1:8080", "", "", {}, 101, ""}, 431},
  };
  for (const auto& c : cases) {
    ConsoleSettings settings;
    settings.host = c.listen;
    settings.max_body = 1000;
    settings.origins = {"https://console.example.org"};
    settings.host_names = {"box.lan"};
    auto refusal = RequestGuard(settings, 8080).Check(c.facts);
    EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.what;
  }
}

// Transfer codings: only chunked alone is read (the cases a proxy may read
// otherwise are refused end to end in the console's tests).
TEST(RequestGuard, ReadsNoTransferCodingButChunked) {
  ConsoleSettings settings;
  settings.host = "127.0.0.1";
  RequestGuard guard(settings, 8080);
  auto status = [&](std::string coding) {
    RequestFacts facts = Post("127.0.0.1:8080", "http://127.0.0.1:8080");
    facts.content_length.reset();
    facts.transfer_encoding = std::move(coding);
    auto refusal = guard.Check(facts);
    return refusal ? refusal->status : 0;
  };
  EXPECT_EQ(status(" Chunked "), 0);
  EXPECT_EQ(status("chunked, gzip"), 400);
  EXPECT_EQ(status("xchunked"), 400);
  EXPECT_EQ(status("gzip, chunked"), 501);
}

TEST(RequestGuard, OnAllAddressesTheAddressAConnectionCameInOnIsServed) {
  ConsoleSettings settings;
  settings.host = "0.0.0.0";
  settings.host_names = {"console.lan:9443"};
  RequestGuard guard(settings, 8080);
  auto status = [&](std::string host, std::string local) {
    RequestFacts facts{"GET", std::move(host), "", "", {}, 3, std::move(local)};
    auto refusal = guard.Check(facts);
    return refusal ? refusal->status : 0;
  };
  EXPECT_EQ(status("192.0.2.7:8080", "192.0.2.7"), 0);
  EXPECT_EQ(status("192.0.2.7:8080", "::ffff:192.0.2.7"), 0);
  EXPECT_EQ(status("[2001:db8::5]:8080", "2001:db8::5"), 0);
  EXPECT_EQ(status("console.lan:9443", "192.0.2.7"), 0);
  // Another address, another port, a name nobody gave.
  EXPECT_EQ(status("192.0.2.8:8080", "192.0.2.7"), 403);
  EXPECT_EQ(status("192.0.2.7:9090", "192.0.2.7"), 403);
  EXPECT_EQ(status("console.lan:8080", "192.0.2.7"), 403);
  EXPECT_EQ(status("rebound.example:8080", "192.0.2.7"), 403);
}

TEST(RequestGuard, OriginOfAUrl) {
  EXPECT_EQ(RequestGuard::OriginOf("http://a.test:81/x?y"), "http://a.test:81");
  EXPECT_EQ(RequestGuard::OriginOf("http://a.test?y"), "http://a.test");
  EXPECT_EQ(RequestGuard::OriginOf("https://a.test"), "https://a.test");
  EXPECT_EQ(RequestGuard::OriginOf("/relative"), "");
}

}  // namespace
}  // namespace corvane::web

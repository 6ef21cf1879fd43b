// SPDX-License-Identifier: Apache-2.0
#include "whois/RdapFetch.h"

#include <gtest/gtest.h>

#include "platform/Failure.h"
#include "whois/WhoisQuery.h"

namespace corvane::namewell {
namespace {

TEST(RdapFetchTest, PlainHttpOnlyToLoopback) {
  constexpr char kNotHttp[] = "it is not an http or https URL";
  constexpr char kNotLoopback[] =
      "plain http is allowed to loopback addresses only";
  struct {
    const char* url;
    const char* problem;
  } rows[] = {
      {"https://rdap.example/com/v1/domain/a.com", ""},
      {"HTTPS://192.0.2.1/domain/a.com", ""},
      {"http://127.0.0.1:8080/domain/a.zz", ""},
      {"http://127.255.10.1/domain/a.zz", ""},
      {"http://localhost:80/domain/a.zz", ""},
      {"http://LOCALHOST./", ""},
      {"http://[::1]:8080/domain/a.zz", ""},
      {"http://10.0.0.1/domain/a.zz", kNotLoopback},
      {"http://192.0.2.1:80/", kNotLoopback},
      {"http://rdap.example/", kNotLoopback},
      {"http://127.0.0.1.example/", kNotLoopback},
      {"http://localhost.example/", kNotLoopback},
      {"http://128.0.0.1/", kNotLoopback},
      {"http://[::2]/", kNotLoopback},
      {"http://user@10.0.0.1/", kNotLoopback},
      {"ftp://127.0.0.1/", kNotHttp},
      {"file:///etc/passwd", kNotHttp},
      {"rdap.example/domain/a.com", kNotHttp},
      {"", kNotHttp},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(UrlProblem(row.url), row.problem) << row.url;
  }
}

TEST(RdapFetchTest, RefusedUrlConnectsNowhere) {
  try {
    (void)FetchRdap("http://192.0.2.1/domain/widget.zz", {});
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number, kQueryRefused);
    EXPECT_EQ(failure.description,
              "The RDAP URL is refused (plain http is allowed to loopback "
              "addresses only); nothing was sent. URL: "
              "http://192.0.2.1/domain/widget.zz");
  }
}

// A link that a public server's answer led to may not reach loopback or
// private addresses: refused before any connection.
TEST(RdapFetchTest, LinksInsideAreRefusedWhenAskedTo) {
  const char* inside[][2] = {
      {"http://127.0.0.1:9/domain/widget.zz", "127.0.0.1"},
      {"https://10.0.0.5/domain/widget.zz", "10.0.0.5"},
      {"https://[fd00::5]:8443/domain/widget.zz", "fd00::5"},
      {"http://localhost:9/domain/widget.zz", "localhost"},
      {"https://169.254.169.254/latest/", "169.254.169.254"},
  };
  for (const auto& [url, host] : inside) {
    try {
      FetchLimits limits;
      limits.refuse_internal = true;
      (void)FetchRdap(url, limits);
      ADD_FAILURE() << url;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, kQueryRefused);
      EXPECT_EQ(failure.description,
                "The RDAP link leads to a loopback or private address (" +
                    std::string(host) + "); it was not asked. URL: " + url);
    }
  }
  // Without the refusal the loopback URL is asked (nothing listens there).
  try {
    (void)FetchRdap(inside[0][0], FetchLimits());
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number, kConnectFailed);
  }
}

TEST(RdapFetchTest, PathSegmentEscapesAllButNameCharacters) {
  EXPECT_EQ(PathSegment("Widget-1.zz"), "Widget-1.zz");
  EXPECT_EQ(PathSegment("a b/c?d#e%"), "a%20b%2Fc%3Fd%23e%25");
  EXPECT_EQ(PathSegment("b\xc3\xbc"), "b%C3%BC");
}

}  // namespace
}  // namespace corvane::namewell

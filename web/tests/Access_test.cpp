// SPDX-License-Identifier: Apache-2.0
#include "web/Access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/Failure.h"
#include "web/Accounts.h"

namespace corvane::web {
namespace {

using namespace std::chrono_literals;

std::string Header(const AccessAnswer& answer, std::string_view name) {
  for (const auto& [key, value] : answer.headers) {
    if (key == name) return value;
  }
  return {};
}

TEST(Accounts, UsersFileAndPasswords) {
  std::string hash = HashPassword("correct horse");
  EXPECT_TRUE(VerifyPassword(hash, "correct horse"));
  EXPECT_FALSE(VerifyPassword(hash, "correct horsE"));
  EXPECT_FALSE(VerifyPassword("$argon2id$v=19$broken", "correct horse"));

  auto accounts =
      ParseUsers("# accounts\n\nalice:" + hash + "\r\nbob:" + hash + "\n");
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].name, "alice");
  EXPECT_EQ(accounts[0].hash, hash);
  SetAccount(accounts, "bob", "$argon2id$new");
  SetAccount(accounts, "carol", "$argon2id$third");
  EXPECT_EQ(UsersText(accounts),
            "alice:" + hash + "\nbob:$argon2id$new\ncarol:$argon2id$third\n");

  for (const char* text :
       {"alice\n", "alice:plain-password\n", ":$argon2id$x\n",
        "al ice:$argon2id$x\n", "a:$argon2id$x\na:$argon2id$y\n"}) {
    EXPECT_THROW(ParseUsers(text), Failure) << text;
  }
  try {
    ParseUsers("a:$argon2id$x\n\nb c:$argon2id$y\n");
    ADD_FAILURE();
  } catch (const Failure& failure) {
    EXPECT_NE(failure.description.find("line 3"), std::string::npos);
  }
}

class AccessTest : public ::testing::Test {
 protected:
  Access::Clock::time_point now{};
  Access access{"s3cret", "", false, [this] { return now; }};

  AccessRequest Get(std::string target, std::string cookie = "",
                    std::string token = "") {
    return AccessRequest{"GET", std::move(target), std::move(token),
                         std::move(cookie), "192.0.2.1"};
  }

  // The cookie header of a session started with the token.
  std::string LogInWithToken() {
    auto answer = access.Admit(Get("/files?path=a&token=s3cret", "", "s3cret"));
    std::string set = Header(*answer, "Set-Cookie");
    return set.substr(0, set.find(';'));
  }
};

TEST_F(AccessTest, TheTokenStartsASessionThatTheCookieCarries) {
  auto answer = access.Admit(Get("/files?path=a&token=s3cret", "", "s3cret"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 303);
  EXPECT_EQ(Header(*answer, "Location"), "/files?path=a");
  std::string set = Header(*answer, "Set-Cookie");
  EXPECT_TRUE(set.starts_with("corvane_session=")) << set;
  EXPECT_NE(set.find("; Path=/; HttpOnly; SameSite=Strict"), std::string::npos);

  std::string cookie = "other=1; " + set.substr(0, set.find(';'));
  EXPECT_FALSE(access.Admit(Get("/mail", cookie)));
  EXPECT_EQ(access.Admit(Get("/mail", "corvane_session=forged"))->status, 401);
  EXPECT_EQ(access.Admit(Get("/mail"))->status, 401);
  EXPECT_FALSE(access.Admit(Get("/style.css")));
  EXPECT_FALSE(access.Admit(Get("/login")));

  // A session unused for longer than the idle limit has ended.
  now += Access::kIdleLimit + 1s;
  EXPECT_EQ(access.Admit(Get("/mail", cookie))->status, 401);

  cookie = LogInWithToken();
  auto out = access.LogOut(Get("/logout", cookie));
  EXPECT_NE(Header(out, "Set-Cookie").find("Max-Age=0"), std::string::npos);
  EXPECT_EQ(access.Admit(Get("/mail", cookie))->status, 401);
}

TEST_F(AccessTest, FailedLogInsMakeTheAddressWaitLongerEachTime) {
  auto wrong = [&] {
    return access
        .LogIn(AccessRequest{"POST", "/login", "", "", "192.0.2.1"},
               "token=guess&next=%2Ffiles")
        .status;
  };
  EXPECT_EQ(wrong(), 401);  // the first failure costs nothing
  EXPECT_EQ(access.WaitFor("192.0.2.1"), 0s);
  EXPECT_EQ(wrong(), 401);
  EXPECT_EQ(access.WaitFor("192.0.2.1"), 2s);
  EXPECT_EQ(wrong(), 429);  // refused unchecked while it waits
  EXPECT_EQ(access.Admit(Get("/?token=s3cret", "", "s3cret"))->status, 429);
  EXPECT_EQ(access.WaitFor("192.0.2.9"), 0s);  // other addresses do not wait
  now += 2s;
  EXPECT_EQ(wrong(), 401);
  EXPECT_EQ(access.WaitFor("192.0.2.1"), 4s);
  now += 4s;
  EXPECT_EQ(access.Admit(Get("/?token=wrong", "", "wrong"))->status, 401);
  EXPECT_EQ(access.WaitFor("192.0.2.1"), 8s);
  now += 8s;
  auto right =
      access.LogIn(AccessRequest{"POST", "/login", "", "", "192.0.2.1"},
                   "token=s3cret&next=%2Ffiles");
  EXPECT_EQ(right.status, 303);
  EXPECT_EQ(Header(right, "Location"), "/files");
  EXPECT_EQ(wrong(), 401);  // a success starts the count afresh
  EXPECT_EQ(access.WaitFor("192.0.2.1"), 0s);
}

TEST_F(AccessTest, FormsCarryTheSessionsTokenWhichIsCheckedAndTakenOut) {
  std::string cookie = LogInWithToken();
  std::string page = access.WithFormTokens(
      cookie,
      "<head></head><form method=\"post\" action=\"/a\"><input name=x></form>"
      "<form method=\"get\"></form>");
  size_t at = page.find("name=\"form_token\" value=\"");
  ASSERT_NE(at, std::string::npos) << page;
  std::string token = page.substr(at + 25, 32);
  EXPECT_NE(page.find("<form method=\"post\" action=\"/a\"><input "
                      "type=\"hidden\" name=\"form_token\""),
            std::string::npos);
  EXPECT_EQ(page.find("form_token", at + 25), std::string::npos) << page;
  EXPECT_NE(page.find("<meta name=\"form-token\" content=\"" + token),
            std::string::npos);

  std::string body = "form_token=" + token + "&query=a.zz";
  EXPECT_FALSE(
      access.CheckForm(cookie, "application/x-www-form-urlencoded", body));
  EXPECT_EQ(body, "query=a.zz");
  body = "query=a.zz&form_token=" + token;
  EXPECT_FALSE(
      access.CheckForm(cookie, "application/x-www-form-urlencoded", body));
  EXPECT_EQ(body, "query=a.zz");

  std::string rest =
      "--xyz\r\nContent-Disposition: form-data; name=\"f\"; "
      "filename=\"a.txt\"\r\n\r\nform_token\r\n--xyz--\r\n";
  body =
      "--xyz\r\nContent-Disposition: form-data; name=\"form_token\"\r\n\r\n" +
      token + "\r\n" + rest;
  EXPECT_FALSE(
      access.CheckForm(cookie, "multipart/form-data; boundary=xyz", body));
  EXPECT_EQ(body, rest);

  const std::pair<std::string, std::string> refused[] = {
      {"application/x-www-form-urlencoded", "query=a.zz"},
      // A token that differs in its first digit (whatever that digit is).
      {"application/x-www-form-urlencoded",
       "form_token=" + std::string(token[0] == '0' ? "1" : "0") +
           token.substr(1)},
      {"multipart/form-data; boundary=xyz", rest},
      {"text/plain", "form_token=" + token},
  };
  for (auto [type, sent] : refused) {
    EXPECT_TRUE(access.CheckForm(cookie, type, sent)) << sent;
  }
  body = "form_token=" + token;
  EXPECT_TRUE(access.CheckForm("corvane_session=other",
                               "application/x-www-form-urlencoded", body));

  // A streamed form is checked on its start, read until it reaches past
  // the first part; the token is taken out of that start alone.
  const std::string type = "multipart/form-data; boundary=\"xyz\"";
  std::string token_part =
      "--xyz\r\nContent-Disposition: form-data; name=\"form_token\"\r\n\r\n" +
      token;
  EXPECT_FALSE(Access::ReachesPastFirstPart(type, token_part));
  EXPECT_FALSE(Access::ReachesPastFirstPart(type, token_part + "\r\n--x"));
  std::string head = token_part + "\r\n--xyz\r\nContent-Disposition: fo";
  EXPECT_TRUE(Access::ReachesPastFirstPart(type, head));
  EXPECT_TRUE(Access::ReachesPastFirstPart("multipart/form-data", ""));
  EXPECT_FALSE(access.CheckForm(cookie, type, head));
  EXPECT_EQ(head, "--xyz\r\nContent-Disposition: fo");
  // A token part not yet ended, or a start without the token, is refused.
  head = token_part;
  EXPECT_TRUE(access.CheckForm(cookie, type, head));
  head = rest.substr(0, 60);
  EXPECT_TRUE(access.CheckForm(cookie, type, head));
}

TEST(Access, NamedAccountsLogInFromTheUsersFile) {
  std::string path =
      ::testing::TempDir() + "access-users-" + std::to_string(::getpid());
  std::ofstream(path) << "alice:" << HashPassword("open sesame") << "\n";
  Access access("", path, true);
  AccessRequest request{"POST", "/login", "", "", "192.0.2.4"};
  auto right = access.LogIn(request, "user=alice&password=open+sesame");
  EXPECT_EQ(right.status, 303);
  EXPECT_NE(Header(right, "Set-Cookie").find("; Secure"), std::string::npos);
  EXPECT_EQ(access.LogIn(request, "user=alice&password=open").status, 401);
  // Without an access token, no token opens it.
  EXPECT_EQ(
      access
          .LogIn(AccessRequest{"POST", "/login", "", "", "192.0.2.5"}, "token=")
          .status,
      401);
  ::unlink(path.c_str());
  EXPECT_THROW(Access("", path, false), Failure);
  EXPECT_FALSE(Access("", "", false).Admit(request));
}

TEST(Access, WhereALogInLeadsAndWhatTheRedirectDrops) {
  EXPECT_EQ(LocalTarget("/files?x=1"), "/files?x=1");
  EXPECT_EQ(LocalTarget("//evil.example/"), "/");
  EXPECT_EQ(LocalTarget("https://evil.example/"), "/");
  EXPECT_EQ(LocalTarget("/\\evil.example"), "/");
  EXPECT_EQ(WithoutToken("/?token=abc"), "/");
  EXPECT_EQ(WithoutToken("/f?a=1&token=abc&b=2"), "/f?a=1&b=2");
  EXPECT_EQ(WithoutToken("/f?tokens=1"), "/f?tokens=1");
  EXPECT_EQ(CookieValue("a=1; corvane_session=xyz; b=2", "corvane_session"),
            "xyz");
  EXPECT_EQ(CookieValue("xcorvane_session=xyz", "corvane_session"), "");
}

}  // namespace
}  // namespace corvane::web

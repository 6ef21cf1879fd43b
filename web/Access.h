// SPDX-License-Identifier: Apache-2.0
// Who may use the console, decided in one place: the access token printed
// at start (in the address, or typed on the login page), the named accounts
// of a users file, the sessions a cookie names, the per-session token every
// form carries, and the growing wait after failed log-ins from an address.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::web {

// What the access checks look at; empty text for what is missing.
struct AccessRequest {
  std::string method;
  // The path and query as sent.
  std::string target;
  // The query's `token` parameter.
  std::string token;
  // The Cookie header.
  std::string cookie;
  // The client's address.
  std::string client;
};

// An answer given instead of a page: a redirect, the login page.
struct AccessAnswer {
  int status = 200;
  std::string title;
  std::string body_html;
  std::vector<std::pair<std::string, std::string>> headers;
};

class Access {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr char kCookie[] = "corvane_session";
  static constexpr char kFormField[] = "form_token";
  // A session unused this long ends.
  static constexpr std::chrono::hours kIdleLimit{12};
  static constexpr size_t kMaxSessions = 4096;

  // `token`: the access token (empty: none); `users_file`: the path of the
  // named accounts (empty: none), read again at each log-in; `secure`:
  // the cookie is sent over HTTPS only. With neither a token nor a users
  // file every request is let through. Throws Failure when the users file
  // cannot be read or is malformed.
  Access(std::string token, std::string users_file, bool secure,
         std::function<Clock::time_point()> now = Clock::now);

  bool Enabled() const { return !token_.empty() || !users_file_.empty(); }

  // nullopt when the request may go on: access is open, it belongs to a
  // session, or it asks for the login page or the stylesheet. Else a
  // redirect that starts a session (the right token in the address, which
  // the redirect leaves out), the login page (401) or a wait (429).
  std::optional<AccessAnswer> Admit(const AccessRequest& request);

  // The login page (GET) or a log-in with the fields token, or user and
  // password, of `body` (POST): a redirect to the field `next` with a new
  // session, the page again with a reason (401), or a wait (429).
  AccessAnswer LogIn(const AccessRequest& request, std::string_view body);

  // Ends the request's session; a redirect to the login page.
  AccessAnswer LogOut(const AccessRequest& request);

  // nullopt when the posted form carries its session's form token (or
  // access is open), which is then taken out of `body`; else the reason
  // for refusing it. `content_type` is the request's.
  std::optional<std::string> CheckForm(std::string_view cookie,
                                       std::string_view content_type,
                                       std::string& body);
  // Whether `head`, the start of a body posted as `content_type`, reaches
  // past the end of its first multipart part, so that CheckForm on it finds
  // a form token sent first (as the console's forms send it); true when the
  // type names no boundary.
  static bool ReachesPastFirstPart(std::string_view content_type,
                                   std::string_view head);

  // `html` with the session's form token as a hidden field first in each
  // form that posts, and in a meta element for scripts; as it is when the
  // request has no session.
  std::string WithFormTokens(std::string_view cookie, std::string html);

  // How long the address must wait before its next log-in; zero when it
  // need not.
  Clock::duration WaitFor(const std::string& client);

 private:
  struct Session {
    std::string form_token;
    Clock::time_point last_used;
  };
  struct Failures {
    int count = 0;
    Clock::time_point next_allowed;
  };

  // The session the cookie names, its use noted; nullptr when none.
  // Called with mutex_ held.
  Session* Find(std::string_view cookie);
  std::string StartSession();
  void NoteFailure(const std::string& client);
  bool CheckAccount(std::string_view user, std::string_view password);
  AccessAnswer LoginPage(int status, std::string_view next,
                         std::string_view message) const;
  AccessAnswer Waiting(const std::string& client);
  // A new session and a redirect to `next`; the address's failures end.
  AccessAnswer Welcome(const std::string& client, std::string_view next);

  std::string token_;
  std::string users_file_;
  bool secure_;
  std::function<Clock::time_point()> now_;
  std::mutex mutex_;
  std::map<std::string, Session, std::less<>> sessions_;
  std::map<std::string, Failures, std::less<>> failures_;
  // One password check at a time: each takes tens of megabytes.
  std::mutex hashing_;
};

// The value of the cookie `name` in a Cookie header; empty when absent.
std::string CookieValue(std::string_view header, std::string_view name);

// `target` without its `token` query parameter.
std::string WithoutToken(std::string_view target);

// A path of this site to go on to after a log-in: `next` when it starts with
// one '/', else "/".
std::string LocalTarget(std::string_view next);

}  // namespace corvane::web

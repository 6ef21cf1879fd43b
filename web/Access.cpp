// SPDX-License-Identifier: Apache-2.0
#include "web/Access.h"

#include <algorithm>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "web/Accounts.h"
#include "web/FormFields.h"
#include "web/Html.h"

namespace corvane::web {
namespace {

constexpr size_t kSessionBytes = 32;
constexpr size_t kFormTokenBytes = 16;
// Failed log-ins an address makes before it waits, the first wait, and the
// longest; each failure after doubles the wait.
constexpr int kFreeFailures = 1;
constexpr auto kFirstWait = std::chrono::seconds(2);
constexpr auto kLongestWait = std::chrono::minutes(5);
// An address whose last failure is this old starts afresh.
constexpr auto kForgetFailures = std::chrono::hours(1);
constexpr size_t kMaxAddresses = 4096;

std::string SessionCookie(std::string_view value, bool secure,
                          bool expired = false) {
  std::string cookie = std::string(Access::kCookie) + "=" + std::string(value) +
                       "; Path=/; HttpOnly; SameSite=Strict";
  if (secure) cookie += "; Secure";
  if (expired) cookie += "; Max-Age=0";
  return cookie;
}

// Takes the field `name` out of a URL-encoded body; its value, or nullopt
// when the body has no such field.
std::optional<std::string> TakeEncodedField(std::string& body,
                                            std::string_view name) {
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string::npos) end = body.size();
    std::string_view pair(body.data() + start, end - start);
    if (pair.starts_with(name) && pair.size() > name.size() &&
        pair[name.size()] == '=') {
      std::string value(pair.substr(name.size() + 1));
      body.erase(start, std::min(end + 1, body.size()) - start);
      if (!body.empty() && body.back() == '&') body.pop_back();
      return value;
    }
    start = end + 1;
  }
  return std::nullopt;
}

// Takes the text field `name` out of a multipart body, looking at the parts
// before the first file (a browser sends the fields in the order of the
// form, and the console's forms carry the token first).
std::optional<std::string> TakeMultipartField(std::string& body,
                                              std::string_view boundary,
                                              std::string_view name) {
  std::string delimiter = "--" + std::string(boundary);
  std::string wanted = "name=\"" + std::string(name) + "\"";
  size_t part = body.starts_with(delimiter) ? 0 : body.find("\r\n" + delimiter);
  if (part == std::string::npos) return std::nullopt;
  if (part != 0) part += 2;
  while (true) {
    size_t head = part + delimiter.size();
    if (body.compare(head, 2, "\r\n") != 0) return std::nullopt;
    size_t head_end = body.find("\r\n\r\n", head);
    if (head_end == std::string::npos) return std::nullopt;
    std::string_view headers(body.data() + head, head_end - head);
    size_t next = body.find("\r\n" + delimiter, head_end + 4);
    if (next == std::string::npos) return std::nullopt;
    if (FindIgnoringCase(headers, "filename=") != std::string_view::npos) {
      return std::nullopt;
    }
    if (headers.find(wanted) != std::string_view::npos) {
      std::string value = body.substr(head_end + 4, next - head_end - 4);
      body.erase(part, next + 2 - part);
      return value;
    }
    part = next + 2;
  }
}

}  // namespace

std::string CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    size_t end = header.find(';');
    std::string_view pair = header.substr(0, end);
    header.remove_prefix(end == std::string_view::npos ? header.size()
                                                       : end + 1);
    while (pair.starts_with(' ')) pair.remove_prefix(1);
    if (pair.starts_with(name) && pair.size() > name.size() &&
        pair[name.size()] == '=') {
      return std::string(pair.substr(name.size() + 1));
    }
  }
  return {};
}

std::string WithoutToken(std::string_view target) {
  size_t mark = target.find('?');
  if (mark == std::string_view::npos) return std::string(target);
  std::string kept(target.substr(0, mark));
  std::string_view query = target.substr(mark + 1);
  std::string rest;
  while (!query.empty()) {
    size_t end = query.find('&');
    std::string_view pair = query.substr(0, end);
    query.remove_prefix(end == std::string_view::npos ? query.size() : end + 1);
    if (pair.empty() || pair == "token" || pair.starts_with("token=")) continue;
    rest += (rest.empty() ? "" : "&") + std::string(pair);
  }
  return rest.empty() ? kept : kept + "?" + rest;
}

std::string LocalTarget(std::string_view next) {
  if (next.starts_with('/') && !next.starts_with("//") &&
      next.find('\\') == std::string_view::npos &&
      std::none_of(next.begin(), next.end(),
                   [](char c) { return c == '\r' || c == '\n'; })) {
    return std::string(next);
  }
  return "/";
}

Access::Access(std::string token, std::string users_file, bool secure,
               std::function<Clock::time_point()> now)
    : token_(std::move(token)),
      users_file_(std::move(users_file)),
      secure_(secure),
      now_(std::move(now)) {
  if (!users_file_.empty()) {
    (void)ParseUsers(platform::Files().ReadFile(users_file_));
  }
}

Access::Session* Access::Find(std::string_view cookie) {
  auto found = sessions_.find(CookieValue(cookie, kCookie));
  if (found == sessions_.end()) return nullptr;
  auto now = now_();
  if (now - found->second.last_used > kIdleLimit) {
    sessions_.erase(found);
    return nullptr;
  }
  found->second.last_used = now;
  return &found->second;
}

std::string Access::StartSession() {
  std::string id = RandomToken(kSessionBytes);
  std::lock_guard lock(mutex_);
  if (sessions_.size() >= kMaxSessions) {
    sessions_.erase(std::min_element(
        sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
          return a.second.last_used < b.second.last_used;
        }));
  }
  sessions_[id] = Session{RandomToken(kFormTokenBytes), now_()};
  return id;
}

Access::Clock::duration Access::WaitFor(const std::string& client) {
  std::lock_guard lock(mutex_);
  auto found = failures_.find(client);
  if (found == failures_.end()) return {};
  return std::max(Clock::duration{}, found->second.next_allowed - now_());
}

void Access::NoteFailure(const std::string& client) {
  std::lock_guard lock(mutex_);
  auto now = now_();
  if (failures_.size() >= kMaxAddresses) {
    std::erase_if(failures_, [&](const auto& entry) {
      return now - entry.second.next_allowed > kForgetFailures;
    });
  }
  auto& failures = failures_[client];
  if (now - failures.next_allowed > kForgetFailures) failures.count = 0;
  ++failures.count;
  Clock::duration wait{};
  if (failures.count > kFreeFailures) {
    int doublings = std::min(failures.count - kFreeFailures - 1, 16);
    wait =
        std::min<Clock::duration>(kFirstWait * (1 << doublings), kLongestWait);
  }
  failures.next_allowed = now + wait;
}

bool Access::CheckAccount(std::string_view user, std::string_view password) {
  if (users_file_.empty() || user.empty()) return false;
  std::vector<Account> accounts;
  try {
    accounts = ParseUsers(platform::Files().ReadFile(users_file_));
  } catch (const Failure&) {
    return false;
  }
  std::lock_guard lock(hashing_);
  for (const auto& account : accounts) {
    if (account.name == user) return VerifyPassword(account.hash, password);
  }
  // An unknown name takes as long as a wrong password, so that the time
  // of the answer does not tell which names exist.
  static const std::string unknown = HashPassword(RandomToken(16));
  (void)VerifyPassword(unknown, password);
  return false;
}

AccessAnswer Access::LoginPage(int status, std::string_view next,
                               std::string_view message) const {
  AccessAnswer answer;
  answer.status = status;
  answer.title = "Log in";
  std::string& html = answer.body_html;
  if (!message.empty()) {
    html += "<div class=\"error\" id=\"refusal\" role=\"alert\">" +
            Escape(message) + "</div>\n";
  }
  html +=
      "<p>This console is for its administrators. Open the address that "
      "<code>corvane serve</code> printed when it started, or enter its "
      "access token" +
      std::string(users_file_.empty() ? ""
                                      : " or your user name and password") +
      ".</p>\n<form method=\"post\" action=\"/login\" id=\"login\">"
      "<input type=\"hidden\" name=\"next\" value=\"" +
      Escape(LocalTarget(next)) + "\">\n";
  if (!token_.empty()) {
    html +=
        "<label><span>Access token</span><input type=\"password\" "
        "name=\"token\" id=\"token\" autocomplete=\"off\"></label>\n";
  }
  if (!users_file_.empty()) {
    html +=
        "<label><span>User name</span><input type=\"text\" name=\"user\" "
        "id=\"user\" autocomplete=\"username\"></label>\n"
        "<label><span>Password</span><input type=\"password\" "
        "name=\"password\" id=\"password\" "
        "autocomplete=\"current-password\"></label>\n";
  }
  html += "<button type=\"submit\" id=\"log-in\">Log in</button></form>\n";
  return answer;
}

AccessAnswer Access::Waiting(const std::string& client) {
  auto seconds =
      std::chrono::ceil<std::chrono::seconds>(WaitFor(client)).count();
  AccessAnswer answer = LoginPage(
      429, "/",
      "Too many failed log-ins from this address: try again in " +
          std::to_string(seconds) + (seconds == 1 ? " second." : " seconds."));
  answer.headers.emplace_back("Retry-After", std::to_string(seconds));
  return answer;
}

AccessAnswer Access::Welcome(const std::string& client, std::string_view next) {
  {
    std::lock_guard lock(mutex_);
    failures_.erase(client);
  }
  AccessAnswer answer;
  answer.status = 303;
  answer.title = "Logged in";
  answer.headers.emplace_back("Set-Cookie",
                              SessionCookie(StartSession(), secure_));
  answer.headers.emplace_back("Location", LocalTarget(next));
  return answer;
}

std::optional<AccessAnswer> Access::Admit(const AccessRequest& request) {
  if (!Enabled()) return std::nullopt;
  std::string_view path = request.target;
  path = path.substr(0, path.find('?'));
  if (path == "/login" || path == "/style.css" || path == "/favicon.svg") {
    return std::nullopt;
  }
  if (!request.token.empty()) {
    if (WaitFor(request.client) > Clock::duration{}) {
      return Waiting(request.client);
    }
    if (!token_.empty() && SameSecret(request.token, token_)) {
      return Welcome(request.client, WithoutToken(request.target));
    }
    NoteFailure(request.client);
    return LoginPage(401, WithoutToken(request.target),
                     "The address carries a wrong token. Open the address "
                     "the console printed at its last start.");
  }
  {
    std::lock_guard lock(mutex_);
    if (Find(request.cookie)) return std::nullopt;
  }
  return LoginPage(401, request.method == "GET" ? request.target : "/", "");
}

AccessAnswer Access::LogIn(const AccessRequest& request,
                           std::string_view body) {
  if (request.method != "POST") {
    return LoginPage(200, "/", "");
  }
  FormFields fields = FormFields::Parse(body);
  std::string next = fields.Value("next");
  if (!Enabled()) return Welcome(request.client, next);
  if (WaitFor(request.client) > Clock::duration{}) {
    return Waiting(request.client);
  }
  std::string token = fields.Value("token");
  std::string user = fields.Value("user");
  bool right = !token.empty() ? !token_.empty() && SameSecret(token, token_)
                              : CheckAccount(user, fields.Value("password"));
  if (right) return Welcome(request.client, next);
  NoteFailure(request.client);
  return LoginPage(401, next,
                   token.empty() && user.empty()
                       ? "Enter the access token or a user name and password."
                   : token.empty()
                       ? "That user name and password do not match an account "
                         "of this console."
                       : "That is not the console's access token.");
}

AccessAnswer Access::LogOut(const AccessRequest& request) {
  {
    std::lock_guard lock(mutex_);
    sessions_.erase(CookieValue(request.cookie, kCookie));
  }
  AccessAnswer answer;
  answer.status = 303;
  answer.title = "Logged out";
  answer.headers.emplace_back("Set-Cookie", SessionCookie("", secure_, true));
  answer.headers.emplace_back("Location", "/login");
  return answer;
}

std::optional<std::string> Access::CheckForm(std::string_view cookie,
                                             std::string_view content_type,
                                             std::string& body) {
  if (!Enabled()) return std::nullopt;
  std::string expected;
  {
    std::lock_guard lock(mutex_);
    if (Session* session = Find(cookie)) expected = session->form_token;
  }
  std::optional<std::string> sent;
  if (FindIgnoringCase(content_type, "multipart/form-data") == 0) {
    std::string boundary = MultipartBoundary(content_type);
    if (!boundary.empty())
      sent = TakeMultipartField(body, boundary, kFormField);
  } else if (FindIgnoringCase(content_type,
                              "application/x-www-form-urlencoded") == 0) {
    sent = TakeEncodedField(body, kFormField);
  }
  if (!expected.empty() && sent && SameSecret(*sent, expected)) {
    return std::nullopt;
  }
  return std::string(
      "The form does not carry this session's form token: it was made for "
      "an earlier session or by another site. Open the page again and send "
      "the form from there.");
}

bool Access::ReachesPastFirstPart(std::string_view content_type,
                                  std::string_view head) {
  std::string boundary = MultipartBoundary(content_type);
  if (boundary.empty()) return true;
  std::string delimiter = "--" + boundary;
  size_t first = head.find(delimiter);
  return first != std::string_view::npos &&
         head.find("\r\n" + delimiter, first + delimiter.size()) !=
             std::string_view::npos;
}

std::string Access::WithFormTokens(std::string_view cookie, std::string html) {
  std::string token;
  {
    std::lock_guard lock(mutex_);
    if (Session* session = Find(cookie)) token = session->form_token;
  }
  if (token.empty()) return html;
  std::string field = "<input type=\"hidden\" name=\"" +
                      std::string(kFormField) + "\" value=\"" + token + "\">";
  for (size_t at = html.find("<form"); at != std::string::npos;
       at = html.find("<form", at + 1)) {
    size_t end = html.find('>', at);
    if (end == std::string::npos) break;
    std::string_view tag(html.data() + at, end - at);
    if (FindIgnoringCase(tag, "method=\"post\"") != std::string_view::npos) {
      html.insert(end + 1, field);
    }
  }
  size_t head_end = html.find("</head>");
  if (head_end != std::string::npos) {
    html.insert(head_end,
                "<meta name=\"form-token\" content=\"" + token + "\">");
  }
  return html;
}

}  // namespace corvane::web

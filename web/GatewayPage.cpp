// SPDX-License-Identifier: Apache-2.0
#include "web/GatewayPage.h"

#include <httplib.h>

#include <filesystem>

#include "frame/Text.h"
#include "platform/ChildProcess.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "upload/UploadCode.h"
#include "web/BodyStream.h"
#include "web/Html.h"
#include "web/RequestGuard.h"

namespace corvane::web {
namespace {

// The program's answer is a redirect or a short text page.
constexpr size_t kMaxAnswerBytes = 1024 * 1024;
// A run that takes no input and does not finish for this long is killed:
// the time counts from the last piece of the body the program took, so
// this bounds the program's own work, not the time the body takes to come.
constexpr int kRunTimeoutMs = 120 * 1000;
constexpr char kResultPage[] = "/gateway/result";
// The result page's name in the program's redirect.
constexpr std::string_view kProgramResultPage = "/Wharfposted.asp";

constexpr char kForm[] =
    R"(<p>The form posts to the Wharfpost CGI program, which stores the files under
the data directory's <code>gateway/console/</code> and sends the browser on to
the result page.</p>
<form method="post" action="/gateway/wharfpost" enctype="multipart/form-data">
<label><span>File 1</span><input type="file" name="upload1" id="upload1"></label>
<label><span>File 2</span><input type="file" name="upload2" id="upload2"></label>
<label><span>Caption</span><input type="text" name="caption" id="caption"></label>
<button type="submit" id="send">Upload</button>
</form>
)";

std::string CodeMeaning(int code) {
  return std::string(cargane::UploadCodeMeaning(code));
}

// Whether `url` is on the console itself: its own origin (the Host the
// request named) or one the console was told it is reached through.
bool IsConsoleUrl(const PageCall& call, std::string_view url) {
  std::string origin = RequestGuard::OriginOf(url);
  if (origin.empty()) return false;
  if (EqualsIgnoringCase(origin, call.settings.Scheme() + "://" +
                                     call.request.get_header_value("Host"))) {
    return true;
  }
  for (const auto& allowed : call.settings.origins) {
    if (EqualsIgnoringCase(origin, allowed)) return true;
  }
  return false;
}

std::vector<std::string> CgiEnvironment(const PageCall& call) {
  std::vector<std::string> environment{"PATH=/usr/bin:/bin"};
  for (const auto& [name, value] :
       CgiVariables(call.request, call.server, call.BodyBytes())) {
    // The program redirects next to the referrer: only a page of the
    // console is handed on, else the console's own Gateway page.
    if (name == "HTTP_REFERER") continue;
    environment.push_back(std::string(name).append("=").append(value));
  }
  std::string referer = call.request.get_header_value("Referer");
  if (!IsConsoleUrl(call, referer)) {
    referer = call.settings.Scheme() + "://" +
              call.request.get_header_value("Host") + "/gateway/";
  }
  environment.push_back("HTTP_REFERER=" + referer);
  return environment;
}

// The redirect handed to the browser: the program's when it stays on the
// console, else the console's result page with the program's query.
std::string ConsoleLocation(const PageCall& call, const std::string& location) {
  bool relative = location.starts_with('/') && !location.starts_with("//") &&
                  location.find('\\') == std::string::npos;
  size_t query = location.find('?');
  std::string rest =
      query == std::string::npos ? std::string() : location.substr(query);
  if (!relative && !IsConsoleUrl(call, location)) return kResultPage + rest;
  // The program's result page is the console's own.
  std::string address = location.substr(0, query);
  if (address.ends_with(kProgramResultPage)) {
    size_t path = relative ? 0 : address.find('/', address.find("://") + 3);
    return address.substr(0, path) + kResultPage + rest;
  }
  return location;
}

// "1 file", "3 files".
std::string Files(size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace

std::string GatewayAnswerText(std::string_view html,
                              const std::string& hidden) {
  std::string text;
  for (size_t at = 0; at < html.size();) {
    if (html[at] == '<') {
      size_t end = html.find('>', at);
      if (end == std::string_view::npos) break;
      std::string tag = LowerCase(html.substr(at + 1, end - at - 1));
      if (tag.starts_with("br") || tag == "/p" || tag == "/div" ||
          tag == "/h1" || tag == "/h2" || tag == "/li") {
        text += '\n';
      }
      at = end + 1;
      continue;
    }
    if (html[at] == '&') {
      static constexpr std::pair<std::string_view, char> kReferences[] = {
          {"&amp;", '&'},  {"&lt;", '<'},   {"&gt;", '>'},
          {"&quot;", '"'}, {"&#39;", '\''}, {"&#x27;", '\''}};
      bool read = false;
      for (const auto& [reference, c] : kReferences) {
        if (html.substr(at, reference.size()) == reference) {
          text += c;
          at += reference.size();
          read = true;
          break;
        }
      }
      if (read) continue;
    }
    text += html[at++];
  }
  if (!hidden.empty()) {
    for (size_t at = text.find(hidden); at != std::string::npos;
         at = text.find(hidden, at)) {
      text.replace(at, hidden.size(), "the console's folder");
    }
  }
  return text;
}

std::vector<std::pair<std::string, std::string>> CgiAnswerHeaders(
    std::string_view answer, std::string_view& body) {
  std::vector<std::pair<std::string, std::string>> headers;
  size_t start = 0;
  while (start < answer.size()) {
    size_t end = answer.find('\n', start);
    if (end == std::string_view::npos) end = answer.size();
    std::string_view line = TrimOf(answer.substr(start, end - start), " \t\r");
    start = end + 1;
    if (line.empty()) break;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) break;
    headers.emplace_back(std::string(line.substr(0, colon)),
                         std::string(TrimBlanks(line.substr(colon + 1))));
  }
  body = answer.substr(std::min(start, answer.size()));
  return headers;
}

std::string InstallGateway(const ConsoleSettings& settings,
                           const std::string& program) {
  auto& files = platform::Files();
  std::string folder = settings.private_directory + "/cgi-bin/";
  if (!files.Stat(folder)) files.CreateDirectory(folder);
  std::string copy = folder + "wharfpost";
  // A copy with the program's permission bits, so that it stays runnable.
  std::error_code error;
  std::filesystem::copy_file(
      program, copy, std::filesystem::copy_options::overwrite_existing, error);
  if (error) {
    throw Failure(ErrorNumberFromErrno(error.value()), "Corvane console",
                  "cannot copy " + program + ": " + error.message());
  }
  auto ini =
      files.OpenWriter(folder + "wharfpost.ini", platform::WriteMode::kCreate);
  ini->Write("[Wharfpost]\nUploadRoot=" + settings.GatewayDirectory() + "\n");
  ini->Close();
  return copy;
}

PageAnswer GatewayFormPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Gateway";
  if (call.settings.gateway_program.empty()) {
    answer.body_html =
        "<div class=\"error\">The wharfpost program was not found beside "
        "corvane; the Gateway page needs it.</div>\n";
    return answer;
  }
  answer.headers.emplace_back(
      "Set-Cookie", std::string("WharfpostToWhere=") + kGatewayFolder +
                        "; Path=/gateway/; SameSite=Strict; HttpOnly");
  answer.body_html = kForm;
  return answer;
}

PageAnswer GatewayPostPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Gateway";
  if (call.settings.gateway_program.empty()) return GatewayFormPage(call);
  auto environment = CgiEnvironment(call);
  auto run = call.stream ? platform::RunProgram(
                               call.settings.gateway_program, environment,
                               [&call](char* data, size_t size) {
                                 return call.stream->ReadSome(data, size);
                               },
                               kMaxAnswerBytes, kRunTimeoutMs)
                         : platform::RunProgram(call.settings.gateway_program,
                                                environment, call.body,
                                                kMaxAnswerBytes, kRunTimeoutMs);
  if (run.timed_out) {
    answer.status = 504;
    answer.body_html =
        "<div class=\"error\" id=\"outcome\">The gateway did not answer "
        "within " +
        std::to_string(kRunTimeoutMs / 1000) + " seconds.</div>\n";
    return answer;
  }
  std::string_view body;
  for (const auto& [name, value] : CgiAnswerHeaders(run.output, body)) {
    if (EqualsIgnoringCase(name, "Location") && answer.status != 302) {
      answer.status = 302;
      answer.headers.emplace_back("Location", ConsoleLocation(call, value));
    }
  }
  if (answer.status != 302) {
    std::string text = GatewayAnswerText(body, call.settings.private_directory);
    answer.body_html =
        "<p class=\"error\" id=\"outcome\">The gateway program stored "
        "nothing and sent no result" +
        std::string(text.find_first_not_of(" \r\n\t") == std::string::npos
                        ? " (it answered nothing)."
                        : "; its answer follows.") +
        "</p>\n";
    if (text.find_first_not_of(" \r\n\t") != std::string::npos) {
      answer.body_html += "<pre id=\"answer\">" + Escape(text) + "</pre>\n";
    }
    answer.body_html +=
        "<details><summary>Details</summary><p>The program's exit status: " +
        std::to_string(run.exit_status) + "</p></details>\n" + kForm;
  }
  return answer;
}

PageAnswer GatewayResultPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Gateway result";
  const auto& query = call.request.params;
  auto value = [&](const std::string& key) {
    auto found = query.find(key);
    return found == query.end() ? std::string() : found->second;
  };
  int code = std::atoi(value("ErrorCode").c_str());
  std::string& html = answer.body_html;
  std::vector<std::vector<std::string>> files;
  std::string names;
  int count = std::atoi(value("filenum").c_str());
  for (int n = 1; n <= count && n <= 1000; ++n) {
    std::string name = value("fn" + std::to_string(n));
    names += (names.empty() ? "" : ", ") + name;
    files.push_back({name, value("fl" + std::to_string(n))});
  }
  std::string sentence =
      code == 1 ? Files(files.size()) + " stored in gateway/" + kGatewayFolder +
                      "/" + (names.empty() ? "." : ": " + names + ".")
                : "The upload failed: " + CodeMeaning(code) + ".";
  html = OutcomeHtml(code == 1, Escape(sentence),
                     "<p>The gateway program's code: ErrorCode " +
                         std::to_string(code) + ": " +
                         Escape(CodeMeaning(code)) + "</p>");
  if (!files.empty()) {
    html +=
        "<h2>Stored files</h2>\n" + TableHtml({"File name", "Bytes"}, files);
  }
  if (!value("Du").empty()) {
    html += "<p>Bytes still free: " + Escape(value("Du")) + "</p>\n";
  }
  std::vector<std::vector<std::string>> fields;
  for (const auto& [key, text] : query) {
    bool numbered = (key.starts_with("fn") || key.starts_with("fl")) &&
                    key.size() > 2 &&
                    std::isdigit(static_cast<unsigned char>(key[2]));
    if (key == "ErrorCode" || key == "filenum" || key == "Du" || numbered) {
      continue;
    }
    fields.push_back({key, text});
  }
  if (!fields.empty()) {
    html += "<h2>Form fields</h2>\n" + TableHtml({"Name", "Value"}, fields);
  }
  html += "<p><a href=\"/gateway/\">Another upload</a></p>\n";
  return answer;
}

PageAnswer GatewayOldResultPage(PageCall& call) {
  PageAnswer answer;
  answer.status = 301;
  answer.title = "Gateway result";
  size_t query = call.request.target.find('?');
  answer.headers.emplace_back(
      "Location", kResultPage + (query == std::string::npos
                                     ? std::string()
                                     : call.request.target.substr(query)));
  return answer;
}

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
#include "web/MailPage.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>

#include "frame/Text.h"
#include "web/DataDirectory.h"
#include "web/FormFields.h"
#include "web/Html.h"
#include "web/UploadPage.h"

namespace corvane::web {
namespace {

constexpr std::pair<const char*, const char*> kAddressFields[] = {
    {"from", "From"}, {"to", "To"},           {"cc", "Cc"},
    {"bcc", "Bcc"},   {"subject", "Subject"},
};

std::string FormHtml(const ConsoleSettings& settings) {
  std::string html = "<form method=\"post\" action=\"/mail\">\n";
  for (const auto& [name, label] : kAddressFields) {
    html += "<label><span>" + std::string(label) +
            "</span><input type=\"text\" name=\"" + name + "\" id=\"" + name +
            "\"></label>\n";
  }
  html +=
      "<label><span>Body</span><textarea name=\"body\" id=\"body\" "
      "rows=\"6\"></textarea></label>\n"
      "<label><span>Body encoding</span><select name=\"encoding\" "
      "id=\"encoding\"><option value=\"\">as written</option>"
      "<option value=\"base64\">base64</option></select></label>\n"
      "<label><span>Attachments</span><select name=\"attach\" id=\"attach\" "
      "multiple size=\"5\">";
  for (const auto& name : StoredFileNames(settings)) {
    html +=
        "<option value=\"" + Escape(name) + "\">" + Escape(name) + "</option>";
  }
  return html +
         "</select></label>\n<p>Recipients: several separated by commas. "
         "Mail goes through " +
         Escape(settings.smtp_server) +
         ".</p><button type=\"submit\" id=\"send\">Send</button></form>\n";
}

// Each recipient list's form field and the member that takes one address.
constexpr std::pair<const char*, const char*> kRecipientFields[] = {
    {"to", "MailTo"}, {"cc", "MailCc"}, {"bcc", "MailBcc"}};

// The pieces of a list separated by commas, semicolons or line breaks,
// trimmed, empty ones left out.
std::vector<std::string> ListItems(std::string_view text) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(",;\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string item(TrimBlanks(text.substr(start, end - start)));
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

// The body's lines; a CR LF or a lone LF ends a line.
std::vector<std::string> BodyLines(std::string_view body) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('\n', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view line = body.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

// The stored files a message attaches, each reached through the data
// directory's confinement (a link that leads out is refused) and held open
// until the message is sent. The mail component reads them through links,
// named as the stored files, in a folder of the console's private folder
// that only this message uses; the links lead to the held descriptors, so
// a link swapped into the uploads folder meanwhile changes nothing.
class HeldAttachments {
 public:
  // Throws PathRefused for a file that is refused, Failure when the links
  // cannot be made.
  HeldAttachments(const ConsoleSettings& settings,
                  const std::vector<std::string>& names) {
    if (names.empty()) return;
    static std::atomic<unsigned> sends{0};
    DataDirectory data(settings.data_directory);
    folder_ = settings.private_directory + "/mail-" + std::to_string(++sends);
    std::filesystem::create_directory(folder_);
    for (const auto& name : names) {
      auto held = data.Hold("uploads/" + name);
      if (held.IsDirectory()) {
        throw PathRefused(400, "\"" + name + "\" is a directory.");
      }
      std::string link = folder_ + "/" + name;
      std::filesystem::create_symlink(held.Path(), link);
      held_.push_back(std::move(held));
      paths_.push_back(std::move(link));
    }
  }
  ~HeldAttachments() {
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  HeldAttachments(const HeldAttachments&) = delete;
  HeldAttachments& operator=(const HeldAttachments&) = delete;

  const std::vector<std::string>& Paths() const { return paths_; }

 private:
  std::string folder_;
  std::vector<platform::HeldPath> held_;
  std::vector<std::string> paths_;
};

std::string SendHtml(PageCall& call) {
  FormFields form = FormFields::Parse(call.body);
  auto stored = StoredFileNames(call.settings);
  for (const auto& name : form.Values("attach")) {
    if (!std::binary_search(stored.begin(), stored.end(), name)) {
      return ErrorHtml(53, "Corvane console",
                       "No stored file is named " + name);
    }
  }
  std::optional<HeldAttachments> attachments;
  try {
    attachments.emplace(call.settings, form.Values("attach"));
  } catch (const PathRefused& refused) {
    return ErrorHtml(53, "Corvane console", refused.what());
  } catch (const std::filesystem::filesystem_error& failure) {
    return ErrorHtml(75, "Corvane console",
                     std::string("The attachments could not be prepared: ") +
                         failure.what());
  }
  auto context = HttpContext::New(call.request, call.server, {});
  PageObject mail("Corvane.SMTP", context);
  mail->Put("SMTP", call.settings.smtp_server);
  mail->Put("MailFrom", form.Value("from"));
  mail->Put("MailSubject", form.Value("subject"));
  for (const auto& [field, member] : kRecipientFields) {
    for (const auto& address : ListItems(form.Value(field))) {
      mail->Put(member, address);
    }
  }
  for (const auto& line : BodyLines(form.Value("body"))) {
    mail->Put("MailContent", line);
  }
  if (!form.Value("encoding").empty()) {
    mail->Put("MailContentEncode", form.Value("encoding"));
  }
  for (const auto& path : attachments->Paths()) mail->Put("Attach", path);
  if (mail->Call("SendMail").ToBool()) {
    return "<div class=\"ok\" id=\"result\">Sent</div>\n" +
           PageTextHtml(*context);
  }
  return "<div class=\"error\" id=\"result\">Not sent</div>\n" +
         mail.ErrorTripleHtml() + PageTextHtml(*context);
}

}  // namespace

PageAnswer MailPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Mail";
  if (call.IsPost()) answer.body_html = SendHtml(call);
  answer.body_html += FormHtml(call.settings);
  return answer;
}

}  // namespace corvane::web

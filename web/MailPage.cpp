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

// The form, filled with what `form` holds: after a send, whether it went or
// not, the page shows again everything that was typed and chosen.
std::string FormHtml(const ConsoleSettings& settings, const FormFields& form) {
  std::string html = "<form method=\"post\" action=\"/mail\">\n";
  for (const auto& [name, label] : kAddressFields) {
    html += "<label><span>" + std::string(label) +
            "</span><input type=\"text\" name=\"" + name + "\" id=\"" + name +
            "\" value=\"" + Escape(form.Value(name)) + "\"></label>\n";
  }
  bool base64 = form.Value("encoding") == "base64";
  html +=
      "<label><span>Body</span><textarea name=\"body\" id=\"body\" "
      "rows=\"6\">" +
      Escape(form.Value("body")) +
      "</textarea></label>\n"
      "<label><span>Body encoding</span><select name=\"encoding\" "
      "id=\"encoding\"><option value=\"\">as written</option>"
      "<option value=\"base64\"" +
      std::string(base64 ? " selected" : "") +
      ">base64</option></select></label>\n"
      "<label><input type=\"checkbox\" name=\"partial\" "
      "id=\"partial\" value=\"1\"" +
      std::string(form.Value("partial").empty() ? "" : " checked") +
      "> Send to the recipients the server accepts when it refuses "
      "others</label>\n"
      "<label><span>Attachments</span><select name=\"attach\" id=\"attach\" "
      "multiple size=\"5\">";
  auto chosen = form.Values("attach");
  for (const auto& name : StoredFileNames(settings)) {
    bool selected =
        std::find(chosen.begin(), chosen.end(), name) != chosen.end();
    html += "<option value=\"" + Escape(name) + "\"" +
            (selected ? " selected" : "") + ">" + Escape(name) + "</option>";
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
  // The folder of the links; empty when nothing is attached.
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::vector<platform::HeldPath> held_;
  std::vector<std::string> paths_;
};

// The mail component's failure numbers: its error base plus the step.
constexpr int32_t kErrorBase = -2147221504;
constexpr int32_t kSettingsCheck = kErrorBase + 1;
constexpr int32_t kNetworkStart = kErrorBase + 2;
constexpr int32_t kSocket = kErrorBase + 3;
constexpr int32_t kConnection = kErrorBase + 4;
constexpr int32_t kUnexpectedReply = kErrorBase + 5;
constexpr int32_t kShortSend = kErrorBase + 6;

// Why a message was not sent, as the end of a sentence, from the mail
// component's number and description.
std::string NotSentReason(int32_t number, std::string_view description,
                          const std::string& server) {
  std::string at = "the mail server at " + server;
  std::string lower = LowerCase(description);
  switch (number) {
    case kSettingsCheck:
      if (Contains(description, "SMTP's IP")) return "no mail server is set";
      if (Contains(description, "specify sender")) {
        return "the From field is empty";
      }
      if (Contains(description, "specify recipent")) {
        return "the To field names no recipient";
      }
      if (description.starts_with("Attachment-")) {
        return "an attachment could not be found";
      }
      if (size_t end = description.find(" is not an address");
          end != std::string_view::npos) {
        // "SMTP Error: MailTo is not an address: "VALUE"."
        size_t start = description.rfind(' ', end - 1) + 1;
        std::string field(description.substr(start, end - start));
        if (field.starts_with("Mail")) field.erase(0, 4);
        std::string_view value = TrimOf(description.substr(end + 18), ": .");
        return field +
               " holds something that is not an address: " + std::string(value);
      }
      break;
    case kNetworkStart:
    case kSocket:
      return "the console could not open a network connection";
    case kConnection:
      if (Contains(lower, "refused")) return at + " refused the connection";
      if (Contains(lower, "timed out") || Contains(lower, "timeout")) {
        return at + " did not answer in time";
      }
      return at + " could not be reached";
    case kUnexpectedReply: {
      std::string_view reply = description;
      if (reply.starts_with("Unexpected response: ")) {
        reply.remove_prefix(std::string_view("Unexpected response: ").size());
      }
      return at + " answered \"" + std::string(TrimOf(reply, " \t\r\n")) + "\"";
    }
    case kShortSend:
      return "the connection to " + at + " broke while sending";
    default:
      break;
  }
  return std::string(TrimBlanks(description));
}

// The addresses the form names in To, Cc and Bcc, in that order.
std::vector<std::string> Recipients(const FormFields& form) {
  std::vector<std::string> all;
  for (const auto& [field, member] : kRecipientFields) {
    for (auto& address : ListItems(form.Value(field))) {
      all.push_back(std::move(address));
    }
  }
  return all;
}

std::string JoinedNames(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

// The lines of a component's list, empty ones left out.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  for (const auto& line : BodyLines(text)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// The recipients the server refused in the last send, each with its reply,
// as a table; empty when it refused none.
std::string RefusedHtml(Dispatch& mail) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : Lines(mail.Get("GetRefusedRecipients").ToText())) {
    size_t tab = line.find('\t');
    rows.push_back({line.substr(0, tab),
                    tab == std::string::npos ? "" : line.substr(tab + 1)});
  }
  if (rows.empty()) return {};
  return "<h2>Refused recipients</h2>\n" +
         TableHtml({"Recipient", "The server's reply"}, rows);
}

std::string NotSentHtml(std::string_view reason, std::string_view details) {
  while (reason.ends_with('.')) reason.remove_suffix(1);
  return OutcomeHtml(false, Escape("Not sent: " + std::string(reason) + "."),
                     details, "result");
}

std::string SendHtml(PageCall& call, const FormFields& form) {
  auto stored = StoredFileNames(call.settings);
  for (const auto& name : form.Values("attach")) {
    if (!std::binary_search(stored.begin(), stored.end(), name)) {
      return NotSentHtml("no stored file is named " + name, {});
    }
  }
  std::optional<HeldAttachments> attachments;
  try {
    attachments.emplace(call.settings, form.Values("attach"));
  } catch (const PathRefused& refused) {
    return NotSentHtml(refused.what(), {});
  } catch (const std::filesystem::filesystem_error& failure) {
    return NotSentHtml("the attachments could not be prepared",
                       "<p>" + Escape(failure.what()) + "</p>");
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
  if (!form.Value("partial").empty()) mail->Put("PartialDelivery", true);
  if (mail->Call("SendMail").ToBool()) {
    std::string refused = RefusedHtml(*mail);
    auto accepted = Lines(mail->Get("GetAcceptedRecipients").ToText());
    if (accepted.empty()) accepted = Recipients(form);
    std::string sentence = "Sent to " + JoinedNames(accepted) + ".";
    if (!refused.empty()) sentence += " The server refused the others.";
    return OutcomeHtml(true, Escape(sentence), PageTextHtml(*context),
                       "result") +
           refused;
  }
  std::string refused = RefusedHtml(*mail);
  std::string details = mail.ErrorDetailsHtml() + PageTextHtml(*context);
  // The links of the attachments are the console's business: the reader
  // chose the files by their names.
  std::string links = Escape(attachments->Folder());
  for (size_t at = links.empty() ? std::string::npos : details.find(links);
       at != std::string::npos; at = details.find(links, at)) {
    details.replace(at, links.size() + 1, "");
  }
  return NotSentHtml(NotSentReason(mail->Get("GetLastErrNum").ToInt32(),
                                   mail->Get("GetLastErrDescription").ToText(),
                                   call.settings.smtp_server),
                     details) +
         refused;
}

}  // namespace

PageAnswer MailPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Mail";
  FormFields form;
  if (call.IsPost()) {
    form = FormFields::Parse(call.body);
    answer.body_html = SendHtml(call, form);
  }
  answer.body_html += FormHtml(call.settings, form);
  return answer;
}

}  // namespace corvane::web

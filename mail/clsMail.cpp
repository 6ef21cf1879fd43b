#include "mail/clsMail.h"

#include <ctime>

#include "frame/Text.h"
#include "mail/MailDate.h"
#include "mail/Tallowin.h"
#include "mail/modGlobal.h"
#include "platform/Clock.h"

namespace corvane::penrill {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr size_t kAddressLineStop = 1024;
constexpr std::string_view kPreamble =
    "This is a multi-part message in MIME format.";

size_t EntryCount(const std::shared_ptr<Collection>& list) {
  return list ? list->Items().size() : 0;
}

// "Name: " and the list's entries joined by ", ", adding no entry once the
// line is longer than 1024 characters.
std::string AddressLine(std::string_view name, const Collection& list) {
  std::string line(name);
  line += ": ";
  bool first = true;
  for (const Variant& entry : list.Items()) {
    if (!first) line += ", ";
    line += entry.ToText();
    first = false;
    if (line.size() > kAddressLineStop) break;
  }
  return line;
}

void AddLine(std::string& text, std::string_view name, std::string_view value) {
  text += name;
  text += ": ";
  text += value;
  text += kCrLf;
}

void AddBoundaryLine(std::string& text) {
  text += "--";
  text += kBoundary;
  text += kCrLf;
}

}  // namespace

ClassInfo clsMail::Members() {
  using T = clsMail;
  using List = std::shared_ptr<Collection>;
  return ClassBuilder<T>("clsMail")
      .Let("MailErrorsTo", [](T& o, std::string_view v) { o.MailErrorsTo(v); })
      .Let("MailPrecedence",
           [](T& o, std::string_view v) { o.MailPrecedence(v); })
      .Let("MailContent",
           [](T& o, std::string v) { o.MailContent(std::move(v)); })
      .Let("MailContenttype",
           [](T& o, std::string_view v) { o.MailContenttype(v); })
      .Let("MailContentcharset",
           [](T& o, std::string_view v) { o.MailContentcharset(v); })
      .Let("MailContentEncode",
           [](T& o, std::string_view v) { o.MailContentEncode(v); })
      .Let("Attach", [](T& o, const List& v) { o.Attach(v); })
      .Let("MailFrom", [](T& o, std::string_view v) { o.MailFrom(v); })
      .Let("MailTo", [](T& o, const List& v) { o.MailTo(v); })
      .Let("MailSubject", [](T& o, std::string_view v) { o.MailSubject(v); })
      .Let("MailReplyTo", [](T& o, std::string_view v) { o.MailReplyTo(v); })
      .Let("MailCc", [](T& o, const List& v) { o.MailCc(v); })
      .Let("MailBcc", [](T& o, const List& v) { o.MailBcc(v); })
      .Let("CurrentRecipent",
           [](T& o, std::string_view v) { o.CurrentRecipent(v); })
      .Method("GetMailBody", [](T& o) { return o.GetMailBody(); })
      .Method("ParseEmailAddress",
              [](T& o, std::string_view v) { return o.ParseEmailAddress(v); })
      .Build();
}

void clsMail::Attach(const std::shared_ptr<Collection>& paths) {
  if (!paths) return;
  for (const Variant& path : paths->Items()) {
    auto part = std::make_shared<clsMIMEObj>();
    part->ContentPath(path.ToText());
    attachments_.push_back(std::move(part));
  }
}

std::string clsMail::ParseEmailAddress(std::string_view vsEAdd) const {
  size_t open = vsEAdd.find('<');
  size_t close = vsEAdd.find('>');
  if (open == std::string_view::npos || close == std::string_view::npos ||
      close < open) {
    return std::string(vsEAdd);
  }
  return std::string(TrimSpaces(vsEAdd.substr(open + 1, close - open - 1)));
}

std::string clsMail::GetMailBody() {
  std::string header = HeaderBlock();
  if (body_part_.empty()) body_part_ = BuildBodyPart();
  std::string message;
  message.reserve(header.size() + body_part_.size());
  message += header;
  message += body_part_;
  return message;
}

std::string clsMail::HeaderBlock() {
  std::string header;
  AddLine(header, "Date",
          FormatMailDate(platform::TheClock().NowUnixSeconds()));
  AddLine(header, "From", mail_from_);
  if (mail_reply_to_.empty()) mail_reply_to_ = mail_from_;
  AddLine(header, "Reply-To", mail_reply_to_);
  if (!mail_errors_to_.empty()) AddLine(header, "Errors-To", mail_errors_to_);
  if (!mail_precedence_.empty()) {
    AddLine(header, "Precedence", mail_precedence_);
  }
  AddLine(header, "X-Mailer", kMailerBanner);
  AddLine(header, "MIME-Version", "1.0");
  if (!current_recipent_.empty()) {
    AddLine(header, "To", current_recipent_);
  } else {
    if (EntryCount(mail_to_) == 0) {
      throw Failure(kSubscriptOutOfRange, std::string(kPenrillSource),
                    StandardErrorText(kSubscriptOutOfRange));
    }
    header += AddressLine("To", *mail_to_);
    header += kCrLf;
  }
  if (EntryCount(mail_cc_) > 0) {
    header += AddressLine("Cc", *mail_cc_);
    header += kCrLf;
  }
  AddLine(header, "Subject", mail_subject_);
  return header;
}

std::string clsMail::BuildBodyPart() const {
  std::string body;
  // Sized once for the whole part so that the attachments' Base64 text is
  // written into place without the string growing (and copying) on the way.
  body.reserve(ExpectedBodyPartLength());
  if (!attachments_.empty()) {
    body += "Content-Type: multipart/mixed; boundary=\"";
    body += kBoundary;
    body += "\"\r\n\r\n";
    body += kPreamble;
    body += kCrLf;
    AddBoundaryLine(body);
  }
  body += "Content-Type: " + mail_contenttype_ +
          "; charset=" + mail_contentcharset_ + "\r\n";
  body += "Content-Transfer-Encoding: " + mail_content_encode_ + "\r\n\r\n";
  if (mail_content_encode_ == "base64") {
    AppendBase64(mail_content_, body);
  } else {
    body += mail_content_;
  }
  body += kCrLf;
  for (const auto& part : attachments_) {
    AddBoundaryLine(body);
    body += part->MIMEObjHeader();
    body += "\r\n\r\n";
    part->AppendMimeContent(body);
    body += kCrLf;
  }
  if (!attachments_.empty()) {
    body += "--";
    body += kBoundary;
    body += "--";
  }
  return body;
}

uint64_t clsMail::ExpectedBodyPartLength() const {
  constexpr uint64_t kFixedLines = 512;  // headers, preamble, boundaries
  uint64_t length = kFixedLines + mail_contenttype_.size() +
                    mail_contentcharset_.size() + mail_content_encode_.size();
  length += mail_content_encode_ == "base64"
                ? static_cast<uint64_t>(GetEncodedLength(
                      static_cast<int64_t>(mail_content_.size())))
                : mail_content_.size();
  for (const auto& part : attachments_) {
    length += part->MIMEObjHeader().size() + kBoundary.size() + 16 +
              part->ExpectedContentLength();
  }
  return length;
}

}  // namespace corvane::penrill

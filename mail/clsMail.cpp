// SPDX-License-Identifier: Apache-2.0
#include "mail/clsMail.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <random>

#include "frame/Text.h"
#include "mail/Address.h"
#include "mail/HeaderText.h"
#include "mail/MailDate.h"
#include "mail/Tallowin.h"
#include "mail/modGlobal.h"
#include "platform/Clock.h"
#include "platform/Sockets.h"

namespace corvane::penrill {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kPreamble =
    "This is a multi-part message in MIME format.";

size_t EntryCount(const std::shared_ptr<Collection>& list) {
  return list ? list->Items().size() : 0;
}

// A unique id for a Message-ID line: the time, a random number and a count
// of this process, at this host's name.
std::string NewMessageId() {
  static std::atomic<uint64_t> count{0};
  static const uint64_t random =
      std::random_device{}() * 0x100000000ull + std::random_device{}();
  std::string host;
  try {
    auto& sockets = platform::Network();
    auto name = sockets.QualifiedHostName();
    if (!name) name = sockets.HostName();
    if (name) host = *name;
  } catch (...) {
    // No host name from the system: "localhost" below stands for it.
  }
  if (host.empty()) host = "localhost";
  char id[96];
  std::snprintf(
      id, sizeof id, "<%llx.%llx.%llx@",
      static_cast<unsigned long long>(platform::TheClock().NowUnixSeconds()),
      static_cast<unsigned long long>(random),
      static_cast<unsigned long long>(++count));
  return std::string(id) + host + ">";
}

// One header line; a line that would pass the transfer's limit is folded
// before blanks (a line within it goes out exactly as it is).
void AddLine(std::string& text, std::string_view name, std::string_view value) {
  size_t start = text.size();
  text += name;
  text += ": ";
  text += value;
  if (text.size() - start > kMaxHeaderLine) {
    std::string folded = FoldAtBlanks(std::string_view(text).substr(start));
    if (!folded.empty()) text.replace(start, std::string::npos, folded);
  }
  text += kCrLf;
}

void AddBoundaryLine(std::string& text) {
  text += "--";
  text += kBoundary;
  text += kCrLf;
}

// A boundary of its own for each rich message: 96 random bits, so that no
// content written before the message was made can hold it.
std::string NewBoundary() {
  static thread_local std::mt19937_64 random{
      std::random_device{}() ^ (uint64_t{std::random_device{}()} << 32)};
  char text[48];
  std::snprintf(text, sizeof text, "----=_Penrill_%016llx%08llx",
                static_cast<unsigned long long>(random()),
                static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
  return text;
}

// Whether some line of `text` is longer than the transfer allows.
bool HasLongLine(std::string_view text) {
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    if (end - start > kMaxHeaderLine + 1) return true;
    start = end + 1;
  }
  return text.size() - start > kMaxHeaderLine;
}

// One text entity of a rich message: 7-bit text as it is, 8-bit text as
// 8bit where the server takes it, anything else (long lines too) Base64.
void AppendTextEntity(std::string& out, std::string_view type,
                      std::string_view charset, std::string_view content,
                      bool eight_bit_allowed, bool base64) {
  const bool eight_bit = HasEightBit(content);
  std::string_view encoding = "7bit";
  if (base64 || HasLongLine(content)) {
    encoding = "base64";
  } else if (eight_bit) {
    encoding = eight_bit_allowed ? "8bit" : "base64";
  }
  std::string_view declared = charset;
  if (eight_bit && EqualsIgnoringCase(charset, "us-ascii")) declared = "utf-8";
  out += "Content-Type: ";
  out += type;
  out += "; charset=";
  out += declared;
  out += "\r\nContent-Transfer-Encoding: ";
  out += encoding;
  out += "\r\n\r\n";
  if (encoding == "base64") {
    AppendBase64(content, out);
  } else {
    out += content;
  }
}

void AppendMultipartStart(std::string& out, std::string_view subtype,
                          const std::string& boundary) {
  out += "Content-Type: multipart/";
  out += subtype;
  out += "; boundary=\"";
  out += boundary;
  out += "\"\r\n\r\n";
}

void AppendDelimiter(std::string& out, const std::string& boundary) {
  out += "\r\n--";
  out += boundary;
  out += kCrLf;
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

void clsMail::AddInlineImage(std::string_view path, std::string_view cid) {
  auto part = std::make_shared<clsMIMEObj>();
  part->ContentPath(path);
  part->ContentId(cid);
  inline_images_.push_back(std::move(part));
}

void clsMail::AddHeader(std::string_view name, std::string_view value) {
  extra_headers_.emplace_back(name, value);
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
  if (body_part_.empty()) {
    // Built aside, so that a failure halfway leaves nothing to reuse.
    std::string body;
    // Sized once for the whole part so that the attachments' Base64 text
    // is written into place without the string growing on the way.
    body.reserve(ExpectedBodyPartLength());
    StringSink sink(body);
    WriteBodyPart(sink);
    body_part_ = std::move(body);
  }
  std::string message;
  message.reserve(header.size() + body_part_.size());
  message += header;
  message += body_part_;
  return message;
}

void clsMail::WriteMailBody(MessageSink& sink) {
  sink.Append(HeaderBlock());
  if (!body_part_.empty()) {
    sink.Append(body_part_);
  } else {
    WriteBodyPart(sink);
  }
}

std::string clsMail::HeaderBlock() {
  const std::string charset = HeaderCharset(mail_contentcharset_);
  std::string header;
  AddLine(header, "Date",
          FormatMailDate(platform::TheClock().NowUnixSeconds()));
  if (add_message_id_) AddLine(header, "Message-ID", NewMessageId());
  AddLine(header, "From", HeaderAddress(ShownAddress(mail_from_), charset));
  if (mail_reply_to_.empty()) mail_reply_to_ = mail_from_;
  AddLine(header, "Reply-To",
          HeaderAddress(ShownAddress(mail_reply_to_), charset));
  if (!mail_errors_to_.empty()) AddLine(header, "Errors-To", mail_errors_to_);
  if (!mail_precedence_.empty()) {
    AddLine(header, "Precedence", mail_precedence_);
  }
  AddLine(header, "X-Mailer", kMailerBanner);
  AddLine(header, "MIME-Version", "1.0");
  if (!current_recipent_.empty()) {
    AddLine(header, "To",
            HeaderAddress(ShownAddress(current_recipent_), charset));
  } else {
    if (EntryCount(mail_to_) == 0) {
      throw Failure(kSubscriptOutOfRange, std::string(kPenrillSource),
                    StandardErrorText(kSubscriptOutOfRange));
    }
    header += HeaderAddresses("To", *mail_to_);
    header += kCrLf;
  }
  if (EntryCount(mail_cc_) > 0) {
    header += HeaderAddresses("Cc", *mail_cc_);
    header += kCrLf;
  }
  header += UnstructuredLine("Subject", mail_subject_, charset);
  header += kCrLf;
  for (const auto& [name, value] : extra_headers_) {
    header += UnstructuredLine(name, value, charset);
    header += kCrLf;
  }
  return header;
}

std::string clsMail::ShownAddress(std::string_view entry) const {
  return ascii_domains_ ? AsciiHeaderAddress(entry) : std::string(entry);
}

std::string clsMail::HeaderAddresses(std::string_view name,
                                     const Collection& list) const {
  const std::string charset = HeaderCharset(mail_contentcharset_);
  std::vector<std::string> entries;
  entries.reserve(list.Items().size());
  for (const Variant& entry : list.Items()) {
    entries.push_back(HeaderAddress(ShownAddress(entry.ToText()), charset));
  }
  return AddressLine(name, entries);
}

clsMail::BodyEncoding clsMail::EffectiveBodyEncoding() const {
  BodyEncoding chosen{mail_contentcharset_, mail_content_encode_};
  if (!EqualsIgnoringCase(mail_content_encode_, "7bit")) return chosen;
  if (HasEightBit(mail_content_)) {
    // Declared 7-bit text that is not: say what it most likely is and send
    // it so that no server has to take 8-bit data it did not offer to take.
    if (EqualsIgnoringCase(mail_contentcharset_, "us-ascii")) {
      chosen.charset = "utf-8";
    }
    chosen.encoding = eight_bit_allowed_ ? "8bit" : "base64";
  }
  if (!attachments_.empty() && chosen.encoding != "base64" &&
      Contains(mail_content_, kBoundary)) {
    chosen.encoding = "base64";
  }
  return chosen;
}

bool clsMail::NeedsEightBitMime() const {
  if (eight_bit_allowed_ && HasEightBit(html_content_) &&
      !HasLongLine(html_content_)) {
    return true;
  }
  return EqualsIgnoringCase(EffectiveBodyEncoding().encoding, "8bit") &&
         HasEightBit(mail_content_);
}

// The plain body and the HTML body: an alternative of the two, or the one
// that is there.
std::string clsMail::TextEntity(const std::string& boundary) const {
  const BodyEncoding plain = EffectiveBodyEncoding();
  std::string entity;
  auto append_plain = [&] {
    AppendTextEntity(entity, mail_contenttype_, plain.charset, mail_content_,
                     eight_bit_allowed_,
                     EqualsIgnoringCase(plain.encoding, "base64"));
  };
  auto append_html = [&] {
    AppendTextEntity(entity, "text/html", mail_contentcharset_, html_content_,
                     eight_bit_allowed_, false);
  };
  if (html_content_.empty()) {
    append_plain();
  } else if (mail_content_.empty()) {
    append_html();
  } else {
    AppendMultipartStart(entity, "alternative", boundary);
    entity += "--" + boundary + "\r\n";
    append_plain();
    AppendDelimiter(entity, boundary);
    append_html();
    entity += "\r\n--" + boundary + "--";
  }
  return entity;
}

// mixed (when there are attachments) around related (when there are inline
// images) around the text entity; each level with a boundary of its own.
void clsMail::WriteRichBodyPart(MessageSink& sink) {
  if (rich_boundary_.empty()) rich_boundary_ = NewBoundary();
  const std::string& boundary = rich_boundary_;
  const std::string mixed = boundary + "_m";
  const std::string related = boundary + "_r";
  std::string content = TextEntity(boundary + "_a");
  if (!inline_images_.empty()) {
    std::string entity;
    StringSink images(entity);
    AppendMultipartStart(entity, "related", related);
    entity += "--" + related + "\r\n";
    entity += content;
    for (const auto& image : inline_images_) {
      AppendDelimiter(entity, related);
      image->WritePart(images);
    }
    entity += "\r\n--" + related + "--";
    content = std::move(entity);
  }
  if (attachments_.empty()) {
    sink.Append(content);
    sink.Append(kCrLf);
    return;
  }
  std::string start;
  AppendMultipartStart(start, "mixed", mixed);
  start += kPreamble;
  start += "\r\n--" + mixed + "\r\n";
  sink.Append(start);
  sink.Append(content);
  for (const auto& part : attachments_) {
    sink.Append("\r\n--" + mixed + "\r\n");
    part->WritePart(sink);
  }
  sink.Append("\r\n--" + mixed + "--");
}

void clsMail::WriteBodyPart(MessageSink& sink) {
  if (!html_content_.empty() || !inline_images_.empty()) {
    WriteRichBodyPart(sink);
    return;
  }
  std::string body;
  if (!attachments_.empty()) {
    body += "Content-Type: multipart/mixed; boundary=\"";
    body += kBoundary;
    body += "\"\r\n\r\n";
    body += kPreamble;
    body += kCrLf;
    AddBoundaryLine(body);
  }
  const BodyEncoding encoding = EffectiveBodyEncoding();
  body += "Content-Type: " + mail_contenttype_ +
          "; charset=" + encoding.charset + "\r\n";
  body += "Content-Transfer-Encoding: " + encoding.encoding + "\r\n\r\n";
  sink.Append(body);
  if (encoding.encoding == "base64") {
    WriteBase64(mail_content_, sink);
  } else {
    sink.Append(mail_content_);
  }
  sink.Append(kCrLf);
  std::string boundary_line;
  AddBoundaryLine(boundary_line);
  for (const auto& part : attachments_) {
    sink.Append(boundary_line);
    part->WritePart(sink);
    sink.Append(kCrLf);
  }
  if (!attachments_.empty()) {
    sink.Append("--");
    sink.Append(kBoundary);
    sink.Append("--");
  }
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

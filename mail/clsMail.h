// SPDX-License-Identifier: Apache-2.0
// The message builder of the mail component: turns the sender, recipients,
// subject, body, content settings and attachment paths into the message
// text sent after DATA, and finds the mailbox address in a recipient text.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Collection.h"
#include "frame/Dispatch.h"
#include "mail/MessageSink.h"
#include "mail/clsMIMEObj.h"
#include "mail/modGlobal.h"

namespace corvane::penrill {

// The X-Mailer banner written into every message.
inline constexpr std::string_view kMailerBanner =
    "Corvane Penrill Mail Component 1.0";

class clsMail : public DispatchClass<clsMail> {
 public:
  static ClassInfo Members();

  // Setters; none of them fails. The lists (MailTo, MailCc, MailBcc) are
  // shared with the caller, not copied: entries are texts, entry 1 first; a
  // null list counts as empty.
  void MailErrorsTo(std::string_view value) { mail_errors_to_ = value; }
  void MailPrecedence(std::string_view value) { mail_precedence_ = value; }
  // The whole body text, lines already ended by CR LF; taken by value so a
  // large body can be moved in.
  void MailContent(std::string value) { mail_content_ = std::move(value); }
  void MailContenttype(std::string_view value) { mail_contenttype_ = value; }
  void MailContentcharset(std::string_view value) {
    mail_contentcharset_ = value;
  }
  void MailContentEncode(std::string_view value) {
    mail_content_encode_ = value;
  }
  // Makes one attachment part per entry (a file path), in order, and
  // appends them to the parts of earlier calls.
  void Attach(const std::shared_ptr<Collection>& paths);
  void MailFrom(std::string_view value) { mail_from_ = value; }
  void MailTo(std::shared_ptr<Collection> list) { mail_to_ = std::move(list); }
  void MailSubject(std::string_view value) { mail_subject_ = value; }
  void MailReplyTo(std::string_view value) { mail_reply_to_ = value; }
  void MailCc(std::shared_ptr<Collection> list) { mail_cc_ = std::move(list); }
  void MailBcc(std::shared_ptr<Collection> list) {
    mail_bcc_ = std::move(list);
  }
  // When not empty, the To header names this value alone.
  void CurrentRecipent(std::string_view value) { current_recipent_ = value; }
  // Adds a Message-ID line (a new unique id at this host for every copy)
  // after the Date line.
  void AddMessageID(bool value) { add_message_id_ = value; }
  // Whether the server takes 8-bit bodies (8BITMIME): an 8-bit body then
  // goes out as 8bit instead of Base64. Set before the first GetMailBody.
  void EightBitAllowed(bool value) { eight_bit_allowed_ = value; }
  // Whether the From, Reply-To, To and Cc lines give their addresses'
  // domains in ASCII ("xn--" labels), as the envelope does for a server
  // without SMTPUTF8. Default false: the addresses as they were given.
  void AsciiDomains(bool value) { ascii_domains_ = value; }
  // The HTML body, lines already ended by CR LF. Empty (the default): the
  // message has its one body as ever; else the plain body and this one go
  // as a multipart/alternative (the HTML alone when there is no plain one).
  void HtmlContent(std::string value) { html_content_ = std::move(value); }
  // Appends an image that the HTML body shows through "cid:" and `cid`;
  // the bodies and the images then go in a multipart/related. Never fails
  // (a missing file fails GetMailBody).
  void AddInlineImage(std::string_view path, std::string_view cid);
  // Appends a header line, written after Subject (an 8-bit value as
  // encoded words). The caller checks the name and the value. Never fails.
  void AddHeader(std::string_view name, std::string_view value);
  // Whether the body goes out as 8-bit data, so that MAIL FROM must say
  // BODY=8BITMIME. Never fails.
  bool NeedsEightBitMime() const;

  // The complete message: a fresh header block (Date, From, Reply-To, ...,
  // To, Cc, Subject) and the body part, built at the first call and reused.
  // Throws Failure: 9 when there is neither a first MailTo entry nor a
  // CurrentRecipent, and what reading or encoding an attachment raises.
  std::string GetMailBody();
  // Writes what GetMailBody returns to `sink`, piece by piece: a fresh
  // header block, then the body part GetMailBody built, or, before the
  // first GetMailBody, one written as it is composed, the attachments read
  // and encoded a piece at a time (and read again on every call). Throws
  // as GetMailBody does and what the sink throws; the sink may then hold
  // part of the message.
  void WriteMailBody(MessageSink& sink);
  // The address between the first '<' and the first '>' (spaces trimmed)
  // when both are there in that order; otherwise `vsEAdd` unchanged. Never
  // fails.
  std::string ParseEmailAddress(std::string_view vsEAdd) const;

 private:
  struct BodyEncoding {
    std::string charset;
    std::string encoding;
  };
  BodyEncoding EffectiveBodyEncoding() const;
  std::string HeaderBlock();
  // The entry as a header line shows it (see AsciiDomains).
  std::string ShownAddress(std::string_view entry) const;
  std::string HeaderAddresses(std::string_view name,
                              const Collection& list) const;
  void WriteBodyPart(MessageSink& sink);
  void WriteRichBodyPart(MessageSink& sink);
  std::string TextEntity(const std::string& boundary) const;
  uint64_t ExpectedBodyPartLength() const;

  std::string mail_from_;
  std::string mail_subject_;
  std::string mail_reply_to_;
  std::string mail_errors_to_;
  std::string mail_precedence_;
  std::string mail_content_;
  std::string mail_contenttype_ = "text/plain";
  std::string mail_contentcharset_ = "us-ascii";
  std::string mail_content_encode_ = "7bit";
  std::shared_ptr<Collection> mail_to_;
  std::shared_ptr<Collection> mail_cc_;
  std::shared_ptr<Collection> mail_bcc_;
  std::vector<std::shared_ptr<clsMIMEObj>> attachments_;
  std::string current_recipent_;
  bool add_message_id_ = false;
  bool eight_bit_allowed_ = false;
  bool ascii_domains_ = false;
  std::string body_part_;
  // The rich message's boundary, made once so that every copy has the same.
  std::string rich_boundary_;
  std::string html_content_;
  std::vector<std::shared_ptr<clsMIMEObj>> inline_images_;
  std::vector<std::pair<std::string, std::string>> extra_headers_;
};

}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
#include "mail/SMTP.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "frame/Text.h"
#include "mail/Address.h"
#include "mail/Dkim.h"
#include "mail/HeaderText.h"
#include "mail/SendLog.h"
#include "mail/Tallowin.h"
#include "mail/clsMail.h"
#include "net/WSKSOCK.h"
#include "net/modNetwork.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace corvane::penrill {
namespace {

[[noreturn]] void Fail(SendStep step, std::string description) {
  throw Failure(kComponentErrorBase + step, std::string(kSmtpSource),
                std::move(description));
}

// The message text of the last socket error.
std::string SocketErrorText() {
  return net::GetSocketErrorText(net::LastSocketError());
}

bool HoldsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) !=
         std::string_view::npos;
}

// Whether a directory search for the path finds an ordinary file: neither
// a directory, nor hidden, nor a system file.
bool OrdinaryFileFound(const std::string& path) {
  try {
    constexpr uint32_t kNotOrdinary =
        platform::kDirectory | platform::kHidden | platform::kSystem;
    for (const auto& entry : platform::Files().Find(path)) {
      if ((entry.attributes & kNotOrdinary) == 0) return true;
    }
  } catch (...) {
    // A path that cannot be searched holds no file to attach.
  }
  return false;
}

enum class Mode { kPlain, kStartTls, kTls, kUnknown };

Mode SecurityMode(std::string_view security) {
  std::string_view value = TrimSpaces(security);
  if (value.empty() || EqualsIgnoringCase(value, "none")) return Mode::kPlain;
  if (EqualsIgnoringCase(value, "starttls")) return Mode::kStartTls;
  if (EqualsIgnoringCase(value, "tls")) return Mode::kTls;
  return Mode::kUnknown;
}

// The port for a server text that names none: 465 for TLS from the first
// byte, else the mail port.
uint16_t ServicePort(Mode mode) {
  return mode == Mode::kTls ? uint16_t{465} : net::kSmtpPort;
}

bool IsLoopback(uint32_t address) {
  return (address & 0xFFu) == 127;  // network byte order: first byte
}

// The base64 text of `bytes` on one line, as AUTH needs it.
std::string Base64Line(std::string_view bytes) {
  std::string lines;
  AppendBase64(bytes, lines);
  std::string line;
  line.reserve(lines.size());
  for (char c : lines) {
    if (c != '\r' && c != '\n') line += c;
  }
  return line;
}

std::vector<std::string> Texts(const Collection& list) {
  std::vector<std::string> texts;
  for (const auto& item : list.Items()) texts.push_back(item.ToText());
  return texts;
}

// Whether `test` holds for some entry of the list: the text of each entry,
// without a copy where the entry holds text (as the list members store).
template <class Test>
bool AnyEntry(const Collection& list, Test test) {
  for (const auto& item : list.Items()) {
    if (const auto* text = std::get_if<std::string>(&item.value())) {
      if (test(std::string_view(*text))) return true;
    } else if (test(std::string_view(item.ToText()))) {
      return true;
    }
  }
  return false;
}

// NEVER alone, or SUCCESS, FAILURE and DELAY joined by commas.
bool DsnNotifyValid(std::string_view value) {
  value = TrimSpaces(value);
  if (value.empty() || EqualsIgnoringCase(value, "NEVER")) return true;
  while (true) {
    size_t comma = value.find(',');
    std::string_view word = TrimSpaces(value.substr(0, comma));
    if (!EqualsIgnoringCase(word, "SUCCESS") &&
        !EqualsIgnoringCase(word, "FAILURE") &&
        !EqualsIgnoringCase(word, "DELAY")) {
      return false;
    }
    if (comma == std::string_view::npos) return true;
    value.remove_prefix(comma + 1);
  }
}

// The xtext form of a DSN parameter value (RFC 3461): the printable
// characters but "+" and "=" as they are, every other byte as "+" and two
// upper-case hexadecimal digits.
std::string XText(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(value.size());
  for (char c : value) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 33 && byte <= 126 && c != '+' && c != '=') {
      text += c;
    } else {
      text += '+';
      text += kHex[byte >> 4];
      text += kHex[byte & 0xFu];
    }
  }
  return text;
}

// Printable ASCII (blanks included) and at most 100 characters as sent.
bool DsnEnvelopeIdValid(std::string_view value) {
  for (char c : value) {
    if (c < 32 || c > 126) return false;
  }
  return XText(value).size() <= 100;
}

}  // namespace

ClassInfo SMTP::Members() {
  using T = SMTP;
  using V = std::string_view;
  return ClassBuilder<T>("SMTP")
      .Let("SMTP", [](T& o, V v) { o.SMTPServer(v); })
      .Let("MailFrom", [](T& o, V v) { o.MailFrom(v); })
      .Let("MailTo", [](T& o, V v) { o.MailTo(v); })
      .Let("MailReplyTo", [](T& o, V v) { o.MailReplyTo(v); })
      .Let("MailErrorsTo", [](T& o, V v) { o.MailErrorsTo(v); })
      .Let("MailPrecedence", [](T& o, V v) { o.MailPrecedence(v); })
      .Let("MailSubject", [](T& o, V v) { o.MailSubject(v); })
      .Let("MailCc", [](T& o, V v) { o.MailCc(v); })
      .Let("MailBcc", [](T& o, V v) { o.MailBcc(v); })
      .Let("MailContent", [](T& o, V v) { o.MailContent(v); })
      .Let("MailContenttype", [](T& o, V v) { o.MailContenttype(v); })
      .Let("MailContentcharset", [](T& o, V v) { o.MailContentcharset(v); })
      .Let("MailContentEncode", [](T& o, V v) { o.MailContentEncode(v); })
      .Let("Attach", [](T& o, V v) { o.Attach(v); })
      .Let("SlowMode", [](T& o, bool v) { o.SlowMode(v); })
      .Let("LogEvent", [](T& o, bool v) { o.LogEvent(v); })
      .ErrorMembers()
      .PageMembers()
      .Method("ReadFile", [](T& o, V path) { return o.ReadFile(path); })
      .Method("SendMail", [](T& o) { return o.SendMail(); })
      .Property(
          "Timeout", [](T& o) { return o.Timeout(); },
          [](T& o, int32_t v) { o.Timeout(v); })
      .Property(
          "Security", [](T& o) { return o.Security(); },
          [](T& o, V v) { o.Security(v); })
      .Property(
          "TlsVerify", [](T& o) { return o.TlsVerify(); },
          [](T& o, bool v) { o.TlsVerify(v); })
      .Property(
          "TlsCAFile", [](T& o) { return o.TlsCAFile(); },
          [](T& o, V v) { o.TlsCAFile(v); })
      .Property(
          "AuthUser", [](T& o) { return o.AuthUser(); },
          [](T& o, V v) { o.AuthUser(v); })
      .Let("AuthPassword", [](T& o, V v) { o.AuthPassword(v); })
      .Property(
          "AddMessageID", [](T& o) { return o.AddMessageID(); },
          [](T& o, bool v) { o.AddMessageID(v); })
      .Get("GetServerReplies", [](T& o) { return o.GetServerReplies(); })
      .Property(
          "HtmlContent", [](T& o) { return o.HtmlContent(); },
          [](T& o, V v) { o.HtmlContent(v); })
      .Method("AddInlineImage",
              [](T& o, V path, V cid) { return o.AddInlineImage(path, cid); })
      .Method("AddHeader",
              [](T& o, V name, V value) { return o.AddHeader(name, value); })
      .Property(
          "ReplyTo", [](T& o) { return o.ReplyTo(); },
          [](T& o, V v) { o.ReplyTo(v); })
      .Property(
          "DkimDomain", [](T& o) { return o.DkimDomain(); },
          [](T& o, V v) { o.DkimDomain(v); })
      .Property(
          "DkimSelector", [](T& o) { return o.DkimSelector(); },
          [](T& o, V v) { o.DkimSelector(v); })
      .Property(
          "DkimKeyFile", [](T& o) { return o.DkimKeyFile(); },
          [](T& o, V v) { o.DkimKeyFile(v); })
      .Property(
          "PartialDelivery", [](T& o) { return o.PartialDelivery(); },
          [](T& o, bool v) { o.PartialDelivery(v); })
      .Get("GetRefusedRecipients",
           [](T& o) { return o.GetRefusedRecipients(); })
      .Property(
          "KeepConnection", [](T& o) { return o.KeepConnection(); },
          [](T& o, bool v) { o.KeepConnection(v); })
      .Let("AuthToken", [](T& o, V v) { o.AuthToken(v); })
      .Property(
          "DsnNotify", [](T& o) { return o.DsnNotify(); },
          [](T& o, V v) { o.DsnNotify(v); })
      .Property(
          "DsnReturn", [](T& o) { return o.DsnReturn(); },
          [](T& o, V v) { o.DsnReturn(v); })
      .Get("GetAcceptedRecipients",
           [](T& o) { return o.GetAcceptedRecipients(); })
      .Property(
          "DsnEnvelopeId", [](T& o) { return o.DsnEnvelopeId(); },
          [](T& o, V v) { o.DsnEnvelopeId(v); })
      .Method("ClearMessage", [](T& o) { o.ClearMessage(); })
      .Build();
}

SMTP::SMTP()
    : ComponentClass(kPenrillSource),
      mail_to_(Collection::New()),
      mail_cc_(Collection::New()),
      mail_bcc_(Collection::New()),
      attach_(Collection::New()) {}

SMTP::~SMTP() { OnEndPage(); }

void SMTP::MailTo(std::string_view value) { mail_to_->Add(Variant(value)); }
void SMTP::MailCc(std::string_view value) { mail_cc_->Add(Variant(value)); }
void SMTP::MailBcc(std::string_view value) { mail_bcc_->Add(Variant(value)); }
void SMTP::Attach(std::string_view value) { attach_->Add(Variant(value)); }

void SMTP::OnEndPage() {
  LeaveServer();
  CloseConnection();
  Component::OnEndPage();
  try {
    ResetLists();
  } catch (...) {
    // Clearing the lists only frees memory; the page has ended.
  }
}

void SMTP::ClearMessage() {
  try {
    ResetLists();
  } catch (...) {
    // Clearing the lists only frees memory; nothing is lost if it fails.
  }
}

bool SMTP::AddInlineImage(std::string_view vsPath, std::string_view vsCid) {
  return Guarded(false, [&] {
    bool usable = !vsCid.empty() && !HoldsLineBreakOrNul(vsPath);
    for (char c : vsCid) {
      auto byte = static_cast<unsigned char>(c);
      if (byte <= 32 || byte == 127 || c == '<' || c == '>') usable = false;
    }
    if (!usable) {
      Fail(kSettingsCheck,
           "SMTP Error: AddInlineImage needs a path without line breaks and "
           "a content id without blanks, '<', '>' or control characters.");
    }
    inline_images_.emplace_back(vsPath, vsCid);
    return true;
  });
}

bool SMTP::AddHeader(std::string_view vsName, std::string_view vsValue) {
  // The lines the component writes itself, which a second line of the
  // same name would contradict.
  static constexpr std::string_view kOwnHeaders[] = {
      "Date",       "Message-ID", "From",           "Reply-To",   "Errors-To",
      "Precedence", "X-Mailer",   "MIME-Version",   "To",         "Cc",
      "Bcc",        "Subject",    "DKIM-Signature", "Return-Path"};
  return Guarded(false, [&] {
    bool name_ok = !vsName.empty();
    for (char c : vsName) {
      if (c < 33 || c > 126 || c == ':') name_ok = false;
    }
    if (!name_ok) {
      Fail(kSettingsCheck, "SMTP Error: AddHeader: \"" + LoggedValue(vsName) +
                               "\" is not a header name.");
    }
    bool own = vsName.size() >= 8 &&
               EqualsIgnoringCase(vsName.substr(0, 8), "Content-");
    for (std::string_view name : kOwnHeaders) {
      own = own || EqualsIgnoringCase(vsName, name);
    }
    if (own) {
      Fail(kSettingsCheck, "SMTP Error: AddHeader: the component writes the " +
                               std::string(vsName) + " line itself.");
    }
    if (HoldsLineBreakOrNul(vsValue)) {
      Fail(kSettingsCheck,
           "SMTP Error: AddHeader: the value of " + std::string(vsName) +
               " must not contain line breaks or NUL characters.");
    }
    extra_headers_.emplace_back(vsName, vsValue);
    return true;
  });
}

std::string SMTP::GetRefusedRecipients() const {
  std::string lines;
  for (const auto& [address, reply] : refused_) {
    lines.append(address).append("\t").append(reply).append("\r\n");
  }
  return lines;
}

std::string SMTP::GetAcceptedRecipients() const {
  std::string lines;
  for (const auto& address : accepted_) lines += address + "\r\n";
  return lines;
}

std::string SMTP::ReadFile(std::string_view vsPathName) {
  return Guarded(std::string(),
                 [&] { return platform::Files().ReadFile(vsPathName); });
}

void SMTP::ValidateSend() const {
  if (server_.empty()) {
    Fail(kSettingsCheck, "SMTP Error: Please specify SMTP's IP address.");
  }
  if (TrimSpaces(mail_from_).empty()) {
    Fail(kSettingsCheck, "SMTP Error: Please specify sender.");
  }
  if (mail_to_->Count() == 0) {
    Fail(kSettingsCheck, "SMTP Error: Please specify recipent.");
  }
  for (const auto& item : attach_->Items()) {
    const std::string path = item.ToText();
    if (!OrdinaryFileFound(path)) {
      Fail(kSettingsCheck, "Attachment-" + path + " not found.");
    }
  }
  for (const auto& [path, cid] : inline_images_) {
    if (!OrdinaryFileFound(path)) {
      Fail(kSettingsCheck, "Inline image-" + path + " not found.");
    }
  }
  // A line break or NUL in any value that reaches a command or a header
  // would let whoever supplied it add commands or headers of their own.
  // (Checked in place: this runs for every message of a kept connection.)
  struct Checked {
    std::string_view name;
    const std::string* text;
    const Collection* list;
  };
  const Checked values[] = {
      {"MailFrom", &mail_from_, nullptr},
      {"MailTo", nullptr, mail_to_.get()},
      {"MailReplyTo", &mail_reply_to_, nullptr},
      {"MailErrorsTo", &mail_errors_to_, nullptr},
      {"MailPrecedence", &mail_precedence_, nullptr},
      {"MailSubject", &mail_subject_, nullptr},
      {"MailCc", nullptr, mail_cc_.get()},
      {"MailBcc", nullptr, mail_bcc_.get()},
      {"MailContenttype", &content_type_, nullptr},
      {"MailContentcharset", &content_charset_, nullptr},
      {"MailContentEncode", &content_encode_, nullptr},
      {"Attach", nullptr, attach_.get()},
      {"AuthUser", &auth_user_, nullptr},
      {"AuthPassword", &auth_password_, nullptr},
      {"AuthToken", &auth_token_, nullptr},
      {"DkimDomain", &dkim_domain_, nullptr},
      {"DkimSelector", &dkim_selector_, nullptr},
  };
  for (const auto& [name, text, list] : values) {
    if (text != nullptr ? HoldsLineBreakOrNul(*text)
                        : AnyEntry(*list, HoldsLineBreakOrNul)) {
      Fail(kSettingsCheck,
           "SMTP Error: " + std::string(name) +
               " must not contain line breaks or NUL characters.");
    }
  }
  if (SecurityMode(security_) == Mode::kUnknown) {
    Fail(kSettingsCheck,
         "SMTP Error: Security must be empty, \"none\", \"starttls\" "
         "or \"tls\".");
  }
  if (!DsnNotifyValid(dsn_notify_)) {
    Fail(kSettingsCheck,
         "SMTP Error: DsnNotify must be empty, \"NEVER\" or SUCCESS, FAILURE "
         "and DELAY joined by commas.");
  }
  std::string_view ret = TrimSpaces(dsn_return_);
  if (!ret.empty() && !EqualsIgnoringCase(ret, "FULL") &&
      !EqualsIgnoringCase(ret, "HDRS")) {
    Fail(kSettingsCheck,
         "SMTP Error: DsnReturn must be empty, \"FULL\" or \"HDRS\".");
  }
  if (!DsnEnvelopeIdValid(dsn_envelope_id_)) {
    Fail(kSettingsCheck,
         "SMTP Error: DsnEnvelopeId must be printable ASCII text of at most "
         "100 characters once encoded as xtext.");
  }
  ValidateAddresses();
}

// Every envelope address is checked before a connection is made, so that
// a text that is no address is refused here, clearly, not by the server.
void SMTP::ValidateAddresses() const {
  clsMail parser;
  auto check = [&](std::string_view name, std::string_view entry,
                   bool may_be_null) {
    std::string address = parser.ParseEmailAddress(entry);
    if (may_be_null && address.empty() && entry.find('<') != entry.npos) {
      return true;  // "<>": the null sender of notifications
    }
    if (IsMailboxAddress(address) ||
        EqualsIgnoringCase(address, "postmaster")) {
      return true;
    }
    Fail(kSettingsCheck, "SMTP Error: " + std::string(name) +
                             " is not an address: \"" + LoggedValue(entry) +
                             "\".");
  };
  check("MailFrom", mail_from_, true);
  const std::pair<std::string_view, const Collection*> lists[] = {
      {"MailTo", mail_to_.get()},
      {"MailCc", mail_cc_.get()},
      {"MailBcc", mail_bcc_.get()}};
  for (const auto& [name, list] : lists) {
    AnyEntry(*list, [&, name = name](std::string_view entry) {
      check(name, entry, false);
      return false;
    });
  }
}

std::shared_ptr<clsMail> SMTP::NewMessage() const {
  auto message = std::make_shared<clsMail>();
  message->MailFrom(mail_from_);
  message->MailTo(mail_to_);
  message->MailCc(mail_cc_);
  message->MailBcc(mail_bcc_);
  message->Attach(attach_);
  message->MailReplyTo(mail_reply_to_);
  message->MailPrecedence(mail_precedence_);
  message->MailErrorsTo(mail_errors_to_);
  message->MailSubject(mail_subject_);
  message->AddMessageID(add_message_id_);
  if (!content_charset_.empty()) message->MailContentcharset(content_charset_);
  if (!content_encode_.empty()) message->MailContentEncode(content_encode_);
  if (!content_type_.empty()) message->MailContenttype(content_type_);
  if (!html_content_.empty()) message->HtmlContent(html_content_);
  for (const auto& [path, cid] : inline_images_) {
    message->AddInlineImage(path, cid);
  }
  for (const auto& [name, value] : extra_headers_) {
    message->AddHeader(name, value);
  }
  size_t length = 0;
  for (const auto& line : content_) length += line.size() + 2;
  std::string body;
  body.reserve(length);
  for (const auto& line : content_) body.append(line).append("\r\n");
  message->MailContent(std::move(body));
  return message;
}

bool SMTP::SendMail() {
  // Whether this send got as far as the server: a message refused by the
  // checks before that leaves a kept link open for the next one.
  bool dialogue = false;
  return Guarded(
      [&] {
        server_replies_.clear();
        refused_.clear();
        accepted_.clear();
        delivered_ = 0;
        ValidateSend();
        PrepareSigner();
        dialogue = true;
        RunDialogue(*NewMessage());
        status_ = "Successful.";
        WriteSendLog();
        ResetLists();
        return true;
      },
      [&](const Failure& failure) {
        status_ = failure.description;
        // Only the recipients that a message reached stay listed as
        // accepted: a recipient the server took for a message that then
        // failed (or was never sent) got nothing.
        accepted_.resize(std::min(accepted_.size(), delivered_));
        WriteToPage(status_);
        WriteSendLog();
        if (dialogue) {
          LeaveServer();
          CloseConnection();
        }
        return false;
      });
}

void SMTP::RunDialogue(clsMail& message) {
  // A kept link is used again when it leads to the same server with the
  // same login and still answers; else a new one is made.
  bool resumed = false;
  if (link_ == Link::kCommands && keep_connection_ &&
      session_key_ == SessionKey()) {
    resumed = ResumeSession();
  } else if (link_ != Link::kNone) {
    LeaveServer();
    CloseConnection();
  }
  if (!resumed) OpenSession();
  const bool pipelined =
      keep_connection_ && !slow_mode_ && Offers("PIPELINING");
  if (pipelined) {
    if (!PipelinedTransaction(message, resumed)) {
      // The kept link had been dropped: once more on a new one.
      CloseConnection();
      OpenSession();
      PipelinedTransaction(message, false);
    }
  } else {
    Transact(message, resumed);
  }
  if (keep_connection_) return;
  SendCommand("QUIT\r\n");
  link_ = Link::kNone;
  server_replies_ +=
      net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
  CloseConnection();
}

void SMTP::OpenSession() {
  const Mode mode = SecurityMode(security_);
  extensions_.clear();
  secrets_.clear();
  pending_replies_.clear();
  link_ = Link::kNone;
  Connect();
  if (mode == Mode::kTls) StartSecure();
  ExpectReply({220});
  Greet();
  if (mode == Mode::kStartTls) {
    if (!Offers("STARTTLS")) {
      Fail(kConnection,
           "Unable to establish a secure connection with SMTP Server. The "
           "server does not offer STARTTLS.");
    }
    SendCommand("STARTTLS\r\n");
    ExpectReply({220});
    StartSecure();
    Greet();
  }
  if (!auth_user_.empty() || !auth_token_.empty()) Authenticate();
  session_key_ = SessionKey();
}

// RSET on a kept link; false when the link is gone (closed by the server
// meanwhile, or answering no more), which is then closed.
bool SMTP::ResumeSession() {
  if (Offers("PIPELINING") && !slow_mode_) return true;  // RSET goes along
  const std::string rset = "RSET\r\n";
  if (net::SendData(connection_.socket(), rset, timeout_.ReplyMs()) ==
      static_cast<int32_t>(rset.size())) {
    std::string text =
        net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
    server_replies_ += text;
    if (net::GetReplyCode(net::LastReplyLine(text)) == 250) return true;
  }
  link_ = Link::kNone;
  CloseConnection();
  return false;
}

std::string SMTP::SessionKey() const {
  return server_ + '\n' + security_ + '\n' + auth_user_ + '\n' +
         std::to_string(
             std::hash<std::string>{}(auth_password_ + '\n' + auth_token_));
}

// One message, a command at a time: MAIL, each RCPT, DATA.
void SMTP::Transact(clsMail& message, bool resumed) {
  (void)resumed;  // a kept link was reset by ResumeSession
  message.EightBitAllowed(Offers("8BITMIME"));
  message.AsciiDomains(AsciiEnvelope());
  SendCommand(MailFromCommand(message));
  ExpectReply({250});
  bool pending = false;
  SendRecipients(message, *mail_to_, true, pending);
  SendRecipients(message, *mail_cc_, false, pending);
  SendRecipients(message, *mail_bcc_, false, pending);
  if (accepted_.empty() && !refused_.empty()) {
    Fail(kReplyCheck,
         "Unexpected response: " + refused_.back().second + "\r\n");
  }
  if (pending) SendMessageData(message);
}

// MAIL, every RCPT and DATA in one write (RFC 2920), the replies read in
// order. A refusal is handled as one command at a time would: the message
// goes only when it may. False when a kept link turned out to be gone
// before anything of this message was taken.
bool SMTP::PipelinedTransaction(clsMail& message, bool resumed) {
  message.EightBitAllowed(Offers("8BITMIME"));
  message.AsciiDomains(AsciiEnvelope());
  std::vector<std::string> recipients;
  for (const Collection* list :
       {mail_to_.get(), mail_cc_.get(), mail_bcc_.get()}) {
    for (const auto& entry : Texts(*list)) {
      recipients.push_back(message.ParseEmailAddress(entry));
    }
  }
  std::string group = resumed ? "RSET\r\n" : "";
  group += MailFromCommand(message);
  for (const auto& address : recipients) group += RecipientCommand(address);
  group += "DATA\r\n";
  if (net::SendData(connection_.socket(), group, timeout_.ReplyMs()) !=
      static_cast<int32_t>(group.size())) {
    if (resumed) return false;
    link_ = Link::kBroken;
    Fail(kShortSend, "Network Error: " + group);
  }
  if (resumed) {
    Reply reset = NextReply();
    if (reset.code != 250) {
      link_ = Link::kNone;
      return false;
    }
  }
  Reply mail = NextReply();
  for (const auto& address : recipients) {
    Reply reply = NextReply();
    if (reply.text.empty()) {
      Fail(kReplyCheck, "Unexpected response: " + ShownReply(reply.text));
    }
    if (mail.code != 250) continue;
    if (reply.code == 250 || reply.code == 251) {
      accepted_.push_back(address);
    } else {
      refused_.emplace_back(address,
                            TrimOf(net::LastReplyLine(reply.text), "\r\n"));
    }
  }
  Reply data = NextReply();
  std::string refusal;
  if (mail.code != 250) {
    refusal = ShownReply(mail.text);
  } else if (!refused_.empty() && (!partial_delivery_ || accepted_.empty())) {
    refusal = refused_.front().second + "\r\n";
  } else if (data.code != 354) {
    refusal = ShownReply(data.text);
  }
  if (!refusal.empty()) {
    // The server may have said 354 all the same: it would take whatever
    // came next as the message, so the link is cut instead.
    if (data.code == 354) link_ = Link::kBroken;
    Fail(kReplyCheck, "Unexpected response: " + refusal);
  }
  link_ = Link::kData;
  SendMessageText(message, "\r\n.\r\n");
  link_ = Link::kCommands;
  ExpectReply({250});
  delivered_ = accepted_.size();
  return true;
}

void SMTP::Connect() {
  const Mode mode = SecurityMode(security_);
  if (!connection_.Start()) {
    Fail(kWinsockStartUp, "Unable to start up Winsock.");
  }
  if (!connection_.Open()) {
    Fail(kSocketCreation, "Unable to create a Socket. " + SocketErrorText());
  }
  // Credentials travel in plain text only to this machine.
  if ((!auth_user_.empty() || !auth_token_.empty()) && mode == Mode::kPlain) {
    uint32_t address =
        net::GetHostAddress(net::SplitServer(server_, ServicePort(mode)).host);
    if (address != net::kAddressNone && !IsLoopback(address)) {
      Fail(kSettingsCheck,
           "SMTP Error: AuthUser needs Security \"starttls\" or \"tls\": "
           "credentials are sent unencrypted only to this machine.");
    }
  }
  if (!net::ConnectSocket(connection_.socket(), server_, ServicePort(mode),
                          timeout_.ConnectMs())) {
    Fail(kConnection, "Unable to establish connection with SMTP Server. " +
                          SocketErrorText());
  }
  link_ = Link::kCommands;
}

void SMTP::StartSecure() {
  platform::TlsSettings settings;
  net::ServerAddress peer =
      net::SplitServer(server_, ServicePort(SecurityMode(security_)));
  settings.server_name = peer.host;
  settings.session_key = peer.host + ":" + std::to_string(peer.port);
  settings.verify = tls_verify_;
  settings.ca_file = tls_ca_file_;
  std::string error;
  if (!net::StartTls(connection_.socket(), settings, timeout_.ReplyMs(),
                     error)) {
    link_ = Link::kBroken;
    Fail(kConnection,
         "Unable to establish a secure connection with SMTP Server. " +
             (error.empty() ? SocketErrorText() : error));
  }
}

// HELO as ever, unless encryption or a login asks for the server's
// extensions: then EHLO, and HELO after a 5xx only when no extension is
// required (a login or STARTTLS needs them).
void SMTP::Greet() {
  const std::string name = net::GetGreetingName(connection_.socket());
  const Mode mode = SecurityMode(security_);
  extensions_.clear();
  if (!WantsExtensions()) {
    SendCommand("HELO " + name + "\r\n");
    ExpectReply({250});
    return;
  }
  const bool required =
      mode == Mode::kStartTls || !auth_user_.empty() || !auth_token_.empty();
  SendCommand("EHLO " + name + "\r\n");
  Reply reply = NextReply();
  if (reply.code / 100 == 5 && !required) {
    SendCommand("HELO " + name + "\r\n");
    ExpectReply({250});
    return;
  }
  if (reply.code != 250) {
    Fail(kReplyCheck, "Unexpected response: " + ShownReply(reply.text));
  }
  // The first line names the server; each further one is an extension.
  std::string_view lines = reply.text;
  for (bool first = true; !lines.empty(); first = false) {
    size_t end = lines.find('\n');
    std::string_view line = TrimOf(lines.substr(0, end), "\r");
    if (!first && line.size() > 4) {
      extensions_.push_back(UpperCase(line.substr(4)));
    }
    lines.remove_prefix(end == std::string_view::npos ? lines.size() : end + 1);
  }
}

// Whether a setting needs to know the server's extensions: encryption, a
// login, reuse and pipelining, notifications, or an address with UTF-8
// text (SMTPUTF8).
bool SMTP::WantsExtensions() const {
  if (SecurityMode(security_) != Mode::kPlain || !auth_user_.empty() ||
      !auth_token_.empty() || keep_connection_ || !dsn_notify_.empty() ||
      !dsn_return_.empty() || !dsn_envelope_id_.empty()) {
    return true;
  }
  return WantsUtf8Envelope();
}

bool SMTP::WantsUtf8Envelope() const {
  if (HasEightBit(mail_from_)) return true;
  for (const Collection* list :
       {mail_to_.get(), mail_cc_.get(), mail_bcc_.get()}) {
    if (AnyEntry(*list, HasEightBit)) return true;
  }
  return false;
}

bool SMTP::Offers(std::string_view keyword) const {
  for (const std::string& line : extensions_) {
    std::string_view word = std::string_view(line).substr(0, line.find(' '));
    if (word == keyword) return true;
  }
  return false;
}

void SMTP::Authenticate() {
  std::vector<std::string> mechanisms;
  for (const std::string& line : extensions_) {
    if (!line.starts_with("AUTH ") && !line.starts_with("AUTH=")) continue;
    std::string_view rest = std::string_view(line).substr(5);
    while (!rest.empty()) {
      size_t space = rest.find(' ');
      if (space != 0) mechanisms.emplace_back(rest.substr(0, space));
      if (space == std::string_view::npos) break;
      rest.remove_prefix(space + 1);
    }
  }
  auto offered = [&](std::string_view name) {
    return std::find(mechanisms.begin(), mechanisms.end(), name) !=
           mechanisms.end();
  };
  if (!auth_token_.empty()) {
    AuthenticateBearer(mechanisms);
  } else if (offered("PLAIN")) {
    std::string token;
    token += '\0';
    token += auth_user_;
    token += '\0';
    token += auth_password_;
    secrets_.push_back(Base64Line(token));
    SendSecret("AUTH PLAIN " + secrets_.back() + "\r\n", "AUTH PLAIN");
    ExpectReply({235});
  } else if (offered("LOGIN")) {
    secrets_.push_back(Base64Line(auth_user_));
    secrets_.push_back(Base64Line(auth_password_));
    SendCommand("AUTH LOGIN\r\n");
    ExpectReply({334});
    SendSecret(Base64Line(auth_user_) + "\r\n", "AUTH LOGIN user name");
    ExpectReply({334});
    SendSecret(Base64Line(auth_password_) + "\r\n", "AUTH LOGIN password");
    ExpectReply({235});
  } else {
    Fail(kReplyCheck,
         "SMTP Error: The server offers neither AUTH PLAIN nor AUTH LOGIN.");
  }
}

// XOAUTH2 or OAUTHBEARER (RFC 7628) with the caller's bearer token. A
// refusal comes as a 334 challenge with the error, which the client answers
// (an empty line, or ^A) to get the final reply.
void SMTP::AuthenticateBearer(const std::vector<std::string>& mechanisms) {
  auto offered = [&](std::string_view name) {
    return std::find(mechanisms.begin(), mechanisms.end(), name) !=
           mechanisms.end();
  };
  std::string mechanism;
  std::string response;
  std::string abort;
  if (offered("OAUTHBEARER")) {
    mechanism = "OAUTHBEARER";
    response = "n,a=" + auth_user_ +
               ",\x01"
               "auth=Bearer " +
               auth_token_ + "\x01\x01";
    abort = "AQ==\r\n";
  } else if (offered("XOAUTH2")) {
    mechanism = "XOAUTH2";
    response = "user=" + auth_user_ +
               "\x01"
               "auth=Bearer " +
               auth_token_ + "\x01\x01";
    abort = "\r\n";
  } else {
    Fail(kReplyCheck,
         "SMTP Error: The server offers neither OAUTHBEARER nor XOAUTH2.");
  }
  secrets_.push_back(Base64Line(response));
  secrets_.push_back(auth_token_);
  SendSecret("AUTH " + mechanism + " " + secrets_[secrets_.size() - 2] + "\r\n",
             "AUTH " + mechanism);
  Reply reply = NextReply();
  if (reply.code == 334) {
    SendCommand(abort);
    reply = NextReply();
  }
  if (reply.code != 235) {
    Fail(kReplyCheck, "Unexpected response: " + ShownReply(reply.text));
  }
}

// A command that carries credentials: a failure names it by `shown`, so
// that the credentials never reach a description, the page or the log.
void SMTP::SendSecret(const std::string& command, std::string_view shown) {
  if (net::SendData(connection_.socket(), command, timeout_.ReplyMs()) !=
      static_cast<int32_t>(command.size())) {
    link_ = Link::kBroken;
    Fail(kShortSend, "Network Error: " + std::string(shown) + "\r\n");
  }
}

// After a failure: a server still reading commands is told QUIT (and its
// reply awaited within the time-out), so that it sees an orderly end.
// Never fails.
void SMTP::LeaveServer() {
  if (link_ != Link::kCommands) return;
  link_ = Link::kNone;
  try {
    const std::string quit = "QUIT\r\n";
    if (net::SendData(connection_.socket(), quit, timeout_.ReplyMs()) ==
        static_cast<int32_t>(quit.size())) {
      server_replies_ +=
          net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
    }
  } catch (...) {
    // The message is already sent or failed; a QUIT that goes unanswered
    // changes neither.
  }
}

void SMTP::SendRecipients(clsMail& message, const Collection& list,
                          bool to_list, bool& pending) {
  const int32_t count = list.Count();
  for (int32_t position = 1; position <= count; ++position) {
    std::string entry =
        list.Items()[static_cast<size_t>(position - 1)].ToText();
    std::string address = message.ParseEmailAddress(entry);
    SendCommand(RecipientCommand(address));
    Reply reply = NextReply();
    if (reply.code != 250 && reply.code != 251 && reply.code != 552) {
      // Refused: the whole send fails, unless the message may go to the
      // recipients that were accepted (a server that is closing or gone
      // fails it all the same).
      if (!reply.text.empty()) {
        refused_.emplace_back(address,
                              TrimOf(net::LastReplyLine(reply.text), "\r\n"));
      }
      if (!partial_delivery_ || reply.text.empty() || reply.code == 421) {
        Fail(kReplyCheck, "Unexpected response: " + ShownReply(reply.text));
      }
      continue;
    }
    bool full = reply.code == 552;
    // A 552 asks for the recipients so far to be delivered first; with none
    // accepted since the last message, giving the entry again cannot help
    // and would repeat for ever.
    if (full && !pending)
      Fail(kReplyCheck, "Unexpected response: " + reply.text);
    if (!full) accepted_.push_back(address);
    pending = true;
    if (to_list && slow_mode_) message.CurrentRecipent(entry);
    if (full) --position;
    if (full || (to_list && slow_mode_)) {
      SendMessageData(message);
      pending = false;
    }
  }
}

// DATA, the message text, the end of data.
void SMTP::SendMessageData(clsMail& message) {
  SendCommand("DATA\r\n");
  ExpectReply({354});
  link_ = Link::kData;
  SendMessageText(message, {});
  SendCommand("\r\n.\r\n");
  link_ = Link::kCommands;
  ExpectReply({250});
  delivered_ = accepted_.size();
  SendCommand(MailFromCommand(message));
  ExpectReply({250});
}

std::string SMTP::MailFromCommand(const clsMail& message) const {
  std::string command = "MAIL FROM:<" +
                        EnvelopeAddress(message.ParseEmailAddress(mail_from_)) +
                        ">";
  if (message.NeedsEightBitMime()) command += " BODY=8BITMIME";
  if (Offers("SMTPUTF8") && WantsUtf8Envelope()) command += " SMTPUTF8";
  if (!dsn_return_.empty() && Offers("DSN")) {
    command += " RET=" + UpperCase(TrimSpaces(dsn_return_));
  }
  if (!dsn_envelope_id_.empty() && Offers("DSN")) {
    command += " ENVID=" + XText(dsn_envelope_id_);
  }
  return command + "\r\n";
}

std::string SMTP::RecipientCommand(const std::string& address) const {
  std::string command = "RCPT TO:<" + EnvelopeAddress(address) + ">";
  if (!dsn_notify_.empty() && Offers("DSN")) {
    std::string notify = UpperCase(dsn_notify_);
    notify.erase(std::remove(notify.begin(), notify.end(), ' '), notify.end());
    command += " NOTIFY=" + notify;
  }
  return command + "\r\n";
}

// An address as the envelope carries it: UTF-8 text as it is where the
// server offers SMTPUTF8 (or where no extensions were asked for, as ever),
// else its domain in ASCII; a local part in UTF-8 then fails the send.
std::string SMTP::EnvelopeAddress(const std::string& address) const {
  if (!HasEightBit(address) || !AsciiEnvelope()) return address;
  auto ascii = AsciiAddress(address);
  if (!ascii) {
    Fail(kSettingsCheck, "SMTP Error: " + address +
                             " cannot be sent: its local part is not ASCII "
                             "(or its domain not a valid name) and the "
                             "server does not offer SMTPUTF8.");
  }
  return *ascii;
}

// Whether addresses go with their domains in ASCII: the server told its
// extensions and SMTPUTF8 is not among them.
bool SMTP::AsciiEnvelope() const {
  return !extensions_.empty() && !Offers("SMTPUTF8");
}

// The message text goes out a piece at a time as it is composed, the
// attachments read and encoded on the way. It is composed whole first when
// signed (the signature leads it) and in slow mode, where the copies share
// the one body, read once. A piece not wholly sent fails the send before
// the end of data, so a cut message is never handed over as complete.
void SMTP::SendMessageText(clsMail& message, std::string_view end) {
  DataWriter writer([&](std::string_view piece) {
    if (net::SendData(connection_.socket(), piece, timeout_.ReplyMs(),
                      piece.size()) != static_cast<int32_t>(piece.size())) {
      link_ = Link::kBroken;
      Fail(kShortSend, "Network Error: Unable to send the message text. " +
                           SocketErrorText());
    }
  });
  if (dkim_signer_ || slow_mode_) {
    writer.Append(MessageText(message));
  } else {
    message.WriteMailBody(writer);
  }
  writer.Finish(end);
}

// The message as DATA sends it, signed when DKIM is set.
std::string SMTP::MessageText(clsMail& message) {
  std::string text = message.GetMailBody();
  if (!dkim_signer_) return text;
  return dkim_signer_->Sign(text, platform::TheClock().NowUnixSeconds());
}

// Loads the DKIM key when all three settings are there (again only when
// they changed); a key that cannot be used fails the send here, before a
// connection is made.
void SMTP::PrepareSigner() {
  if (dkim_domain_.empty() || dkim_selector_.empty() ||
      dkim_key_file_.empty()) {
    dkim_signer_.reset();
    return;
  }
  std::string key =
      dkim_domain_ + '\n' + dkim_selector_ + '\n' + dkim_key_file_;
  if (dkim_signer_ && key == dkim_signer_key_) return;
  try {
    dkim_signer_ = std::make_shared<DkimSigner>(
        dkim_domain_, dkim_selector_,
        platform::Files().ReadFile(dkim_key_file_));
    dkim_signer_key_ = key;
  } catch (const Failure& failure) {
    dkim_signer_.reset();
    Fail(kSettingsCheck, "SMTP Error: DkimKeyFile " + dkim_key_file_ + ": " +
                             failure.description);
  }
}

void SMTP::SendCommand(const std::string& command) {
  if (net::SendData(connection_.socket(), command, timeout_.ReplyMs()) !=
      static_cast<int32_t>(command.size())) {
    link_ = Link::kBroken;
    Fail(kShortSend, "Network Error: " + command);
  }
}

SMTP::Reply SMTP::NextReply() {
  // A kept link may be pipelined: its replies are read one at a time from
  // what arrives, the rest kept for the next.
  std::string text =
      keep_connection_
          ? net::ReceiveNextReply(connection_.socket(), timeout_.ReplyMs(),
                                  pending_replies_)
          : net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
  HideSecrets(text);
  server_replies_ += text;
  if (text.empty()) link_ = Link::kBroken;
  // A multi-line reply repeats its code on every line; the last is final.
  int16_t code = net::GetReplyCode(net::LastReplyLine(text));
  return {code, std::move(text)};
}

// A server may quote the command it refuses: the encoded credentials of
// this send are cut out of every reply before anyone can see it.
void SMTP::HideSecrets(std::string& text) const {
  for (const std::string& secret : secrets_) {
    if (secret.size() < 4) continue;
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at)) {
      text.erase(at, secret.size());
    }
  }
}

std::string SMTP::ShownReply(const std::string& text) {
  // A receive that failed (a time-out, say) has no reply text to show; its
  // socket error tells what happened instead.
  return text.empty() ? SocketErrorText() : text;
}

SMTP::Reply SMTP::ExpectReply(std::initializer_list<int16_t> accepted) {
  Reply reply = NextReply();
  if (std::find(accepted.begin(), accepted.end(), reply.code) ==
      accepted.end()) {
    Fail(kReplyCheck, "Unexpected response: " + ShownReply(reply.text));
  }
  return reply;
}

void SMTP::ResetLists() {
  html_content_.clear();
  inline_images_.clear();
  extra_headers_.clear();
  mail_to_ = Collection::New();
  mail_cc_ = Collection::New();
  mail_bcc_ = Collection::New();
  content_.clear();
  attach_ = Collection::New();
}

void SMTP::WriteSendLog() {
  if (!log_event_) return;
  try {
    std::string first_to =
        mail_to_->Count() > 0 ? mail_to_->Items().front().ToText() : "";
    AppendSendLog(first_to, mail_from_, mail_subject_, status_);
  } catch (...) {
    WriteToPage(CurrentFailure(std::string(kPenrillSource)).description);
  }
}

}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
#include "mail/SMTP.h"

#include <algorithm>
#include <utility>

#include "frame/Text.h"
#include "mail/SendLog.h"
#include "mail/Tallowin.h"
#include "mail/clsMail.h"
#include "net/WSKSOCK.h"
#include "net/modNetwork.h"
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

// Whether the text already goes on the wire as it stands: every line break
// is CR LF and no line begins with ".".
bool IsWireReady(std::string_view text) {
  if (text.starts_with('.')) return false;
  for (size_t at = text.find_first_of("\r\n"); at != std::string_view::npos;
       at = text.find_first_of("\r\n", at + 2)) {
    if (text.substr(at, 2) != "\r\n") return false;
    if (text.substr(at + 2, 1) == ".") return false;
  }
  return true;
}

}  // namespace

std::string DataText(std::string text) {
  if (IsWireReady(text)) return text;
  std::string_view rest = text;
  std::string wire;
  wire.reserve(text.size() + text.size() / 64 + 2);
  for (;;) {
    if (rest.starts_with('.')) wire += '.';
    size_t end = rest.find_first_of("\r\n");
    wire.append(rest.substr(0, end));
    if (end == std::string_view::npos) break;
    wire += "\r\n";
    rest.remove_prefix(rest.substr(end, 2) == "\r\n" ? end + 2 : end + 1);
  }
  return wire;
}

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
  CloseConnection();
  Component::OnEndPage();
  try {
    ResetLists();
  } catch (...) {
  }
}

std::string SMTP::ReadFile(std::string_view vsPathName) {
  return Guarded(std::string(),
                 [&] { return platform::Files().ReadFile(vsPathName); });
}

bool SMTP::ValidateSend(std::string& message) const {
  if (server_.empty()) {
    message = "SMTP Error: Please specify SMTP's IP address.";
    return false;
  }
  if (TrimSpaces(mail_from_).empty()) {
    message = "SMTP Error: Please specify sender.";
    return false;
  }
  if (mail_to_->Count() == 0) {
    message = "SMTP Error: Please specify recipent.";
    return false;
  }
  for (const auto& path : Texts(*attach_)) {
    if (!OrdinaryFileFound(path)) {
      message = "Attachment-" + path + " not found.";
      return false;
    }
  }
  // A line break or NUL in any value that reaches a command or a header
  // would let whoever supplied it add commands or headers of their own.
  const std::pair<std::string_view, std::vector<std::string>> values[] = {
      {"MailFrom", {mail_from_}},
      {"MailTo", Texts(*mail_to_)},
      {"MailReplyTo", {mail_reply_to_}},
      {"MailErrorsTo", {mail_errors_to_}},
      {"MailPrecedence", {mail_precedence_}},
      {"MailSubject", {mail_subject_}},
      {"MailCc", Texts(*mail_cc_)},
      {"MailBcc", Texts(*mail_bcc_)},
      {"MailContenttype", {content_type_}},
      {"MailContentcharset", {content_charset_}},
      {"MailContentEncode", {content_encode_}},
      {"Attach", Texts(*attach_)},
      {"AuthUser", {auth_user_}},
      {"AuthPassword", {auth_password_}},
  };
  for (const auto& [name, texts] : values) {
    if (std::any_of(texts.begin(), texts.end(), HoldsLineBreakOrNul)) {
      message = "SMTP Error: " + std::string(name) +
                " must not contain line breaks or NUL characters.";
      return false;
    }
  }
  if (SecurityMode(security_) == Mode::kUnknown) {
    message =
        "SMTP Error: Security must be empty, \"none\", \"starttls\" "
        "or \"tls\".";
    return false;
  }
  return true;
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
  size_t length = 0;
  for (const auto& line : content_) length += line.size() + 2;
  std::string body;
  body.reserve(length);
  for (const auto& line : content_) body.append(line).append("\r\n");
  message->MailContent(std::move(body));
  return message;
}

bool SMTP::SendMail() {
  return Guarded(
      [&] {
        server_replies_.clear();
        extensions_.clear();
        secrets_.clear();
        link_ = Link::kNone;
        std::string reason;
        if (!ValidateSend(reason)) Fail(kSettingsCheck, reason);
        RunDialogue(*NewMessage());
        status_ = "Successful.";
        WriteSendLog();
        ResetLists();
        return true;
      },
      [&](const Failure& failure) {
        status_ = failure.description;
        WriteToPage(status_);
        WriteSendLog();
        LeaveServer();
        CloseConnection();
        return false;
      });
}

void SMTP::RunDialogue(clsMail& message) {
  const Mode mode = SecurityMode(security_);
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
  if (!auth_user_.empty()) Authenticate();
  message.EightBitAllowed(Offers("8BITMIME"));
  SendCommand(MailFromCommand(message));
  ExpectReply({250});
  bool pending = false;
  SendRecipients(message, *mail_to_, true, pending);
  SendRecipients(message, *mail_cc_, false, pending);
  SendRecipients(message, *mail_bcc_, false, pending);
  if (pending) SendMessageData(message);
  SendCommand("QUIT\r\n");
  link_ = Link::kNone;
  server_replies_ +=
      net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
  CloseConnection();
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
  if (!auth_user_.empty() && mode == Mode::kPlain) {
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
  if (mode == Mode::kPlain && auth_user_.empty()) {
    SendCommand("HELO " + name + "\r\n");
    ExpectReply({250});
    return;
  }
  const bool required = mode == Mode::kStartTls || !auth_user_.empty();
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
  if (offered("PLAIN")) {
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
  }
}

void SMTP::SendRecipients(clsMail& message, const Collection& list,
                          bool to_list, bool& pending) {
  const int32_t count = list.Count();
  for (int32_t position = 1; position <= count; ++position) {
    std::string entry =
        list.Items()[static_cast<size_t>(position - 1)].ToText();
    SendCommand("RCPT TO:<" + message.ParseEmailAddress(entry) + ">\r\n");
    Reply reply = ExpectReply({250, 251, 552});
    bool full = reply.code == 552;
    // A 552 asks for the recipients so far to be delivered first; with none
    // accepted since the last message, giving the entry again cannot help
    // and would repeat for ever.
    if (full && !pending)
      Fail(kReplyCheck, "Unexpected response: " + reply.text);
    pending = true;
    if (to_list && slow_mode_) message.CurrentRecipent(entry);
    if (full) --position;
    if (full || (to_list && slow_mode_)) {
      SendMessageData(message);
      pending = false;
    }
  }
}

// The message text is sent whole or not at all: a short or failed send
// fails the send before the end-of-data line, so a cut message is never
// handed over as complete.
void SMTP::SendMessageData(clsMail& message) {
  SendCommand("DATA\r\n");
  ExpectReply({354});
  link_ = Link::kData;
  std::string text = DataText(message.GetMailBody());
  if (net::SendData(connection_.socket(), text, timeout_.ReplyMs()) !=
      static_cast<int32_t>(text.size())) {
    link_ = Link::kBroken;
    Fail(kShortSend, "Network Error: Unable to send the message text. " +
                         SocketErrorText());
  }
  SendCommand("\r\n.\r\n");
  link_ = Link::kCommands;
  ExpectReply({250});
  SendCommand(MailFromCommand(message));
  ExpectReply({250});
}

std::string SMTP::MailFromCommand(const clsMail& message) const {
  std::string command =
      "MAIL FROM:<" + message.ParseEmailAddress(mail_from_) + ">";
  if (message.NeedsEightBitMime()) command += " BODY=8BITMIME";
  return command + "\r\n";
}

void SMTP::SendCommand(const std::string& command) {
  if (net::SendData(connection_.socket(), command, timeout_.ReplyMs()) !=
      static_cast<int32_t>(command.size())) {
    link_ = Link::kBroken;
    Fail(kShortSend, "Network Error: " + command);
  }
}

SMTP::Reply SMTP::NextReply() {
  std::string text =
      net::ReceiveReply(connection_.socket(), timeout_.ReplyMs());
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

// SPDX-License-Identifier: Apache-2.0
// Penrill's public class SMTP (Corvane.SMTP): a page sets the server, the
// sender, recipients, subject, body lines and attachments, and SendMail
// delivers the message over SMTP and reports the outcome.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Collection.h"
#include "frame/Component.h"
#include "mail/DataWriter.h"
#include "mail/modGlobal.h"
#include "net/Connection.h"

namespace corvane::penrill {

class clsMail;
class DkimSigner;

// Source of every failure SendMail raises itself.
inline constexpr std::string_view kSmtpSource = "Penrill.SMTP";

// Step numbers added to the component error base.
enum SendStep : int32_t {
  kSettingsCheck = 1,
  kWinsockStartUp = 2,
  kSocketCreation = 3,
  kConnection = 4,
  kReplyCheck = 5,
  kShortSend = 6,
};

class SMTP : public ComponentClass<SMTP> {
 public:
  static ClassInfo Members();
  SMTP();
  ~SMTP() override;
  SMTP(const SMTP&) = delete;
  SMTP& operator=(const SMTP&) = delete;

  // The set-only properties store or append their value and never fail.
  // The "SMTP" property (a member cannot carry its class's name in C++):
  // server name or dotted address, optionally followed by ":port".
  void SMTPServer(std::string_view value) { server_ = value; }
  void MailFrom(std::string_view value) { mail_from_ = value; }
  // Each assignment appends one entry, unsplit and unchecked.
  void MailTo(std::string_view value);
  void MailReplyTo(std::string_view value) { mail_reply_to_ = value; }
  void MailErrorsTo(std::string_view value) { mail_errors_to_ = value; }
  void MailPrecedence(std::string_view value) { mail_precedence_ = value; }
  void MailSubject(std::string_view value) { mail_subject_ = value; }
  void MailCc(std::string_view value);
  void MailBcc(std::string_view value);
  // Appends one body line.
  void MailContent(std::string_view value) { content_.emplace_back(value); }
  void MailContenttype(std::string_view value) { content_type_ = value; }
  void MailContentcharset(std::string_view value) { content_charset_ = value; }
  void MailContentEncode(std::string_view value) { content_encode_ = value; }
  // Appends one attachment file path.
  void Attach(std::string_view value);
  void SlowMode(bool value) { slow_mode_ = value; }
  void LogEvent(bool value) { log_event_ = value; }

  // Closes what a send left open, drops the context, empties the lists;
  // never fails.
  void OnEndPage() override;
  // The whole file as text; empty text on failure (the triple records it).
  [[nodiscard]] std::string ReadFile(std::string_view vsPathName);
  // Sends the message; false on any failure (triple, page and log tell).
  [[nodiscard]] bool SendMail();

  // Seconds allowed for the connection and for each reply; 0 or below
  // restores the defaults (30 s to connect, 60 s per reply). Reads 60 then.
  int32_t Timeout() const { return timeout_.Seconds(); }
  void Timeout(int32_t seconds) { timeout_.seconds = seconds; }

  // Encryption: empty or "none" (plain text), "starttls" (EHLO, STARTTLS,
  // which must succeed, then EHLO again) or "tls" (TLS from the first
  // byte; port 465 unless SMTP names one). Other values fail the send.
  const std::string& Security() const { return security_; }
  void Security(std::string_view value) { security_ = value; }
  // Whether the server's certificate is checked against the trusted
  // certificates and the server's name (default true).
  bool TlsVerify() const { return tls_verify_; }
  void TlsVerify(bool value) { tls_verify_ = value; }
  // A PEM file of further trusted certificates; empty for none.
  const std::string& TlsCAFile() const { return tls_ca_file_; }
  void TlsCAFile(std::string_view value) { tls_ca_file_ = value; }
  // Login for AUTH PLAIN or AUTH LOGIN; empty for none. The password can
  // be set, never read.
  const std::string& AuthUser() const { return auth_user_; }
  void AuthUser(std::string_view value) { auth_user_ = value; }
  void AuthPassword(std::string_view value) { auth_password_ = value; }
  // Whether each message gets a Message-ID line (default false).
  bool AddMessageID() const { return add_message_id_; }
  void AddMessageID(bool value) { add_message_id_ = value; }
  // Every reply of the last send's dialogue, in order. Never fails.
  const std::string& GetServerReplies() const { return server_replies_; }

  // The HTML body; empty (the default) for the one body of MailContent. A
  // plain body beside it makes a multipart/alternative. Emptied, with the
  // lists, after a successful send.
  const std::string& HtmlContent() const { return html_content_; }
  void HtmlContent(std::string_view value) { html_content_ = value; }
  // Adds an image file that HtmlContent shows as "cid:" and `vsCid`. False
  // when the id is empty or holds a blank, '<', '>' or a control character
  // (the triple tells); a missing file fails the send.
  [[nodiscard]] bool AddInlineImage(std::string_view vsPath,
                                    std::string_view vsCid);
  // Adds a header line after Subject. False when the name is not a header
  // name, is one the component writes itself, or the value holds a line
  // break or NUL (the triple tells).
  [[nodiscard]] bool AddHeader(std::string_view vsName,
                               std::string_view vsValue);
  // The Reply-To line (MailReplyTo's value; the sender when empty).
  const std::string& ReplyTo() const { return mail_reply_to_; }
  void ReplyTo(std::string_view value) { mail_reply_to_ = value; }
  // DKIM signing (relaxed/relaxed; rsa-sha256 or ed25519-sha256 by the
  // key's type) when all three are set: the signing domain, the selector
  // and a PEM file with the private key. A key that cannot be read or used
  // fails the send before connecting.
  const std::string& DkimDomain() const { return dkim_domain_; }
  void DkimDomain(std::string_view value) { dkim_domain_ = value; }
  const std::string& DkimSelector() const { return dkim_selector_; }
  void DkimSelector(std::string_view value) { dkim_selector_ = value; }
  const std::string& DkimKeyFile() const { return dkim_key_file_; }
  void DkimKeyFile(std::string_view value) { dkim_key_file_ = value; }
  // Whether a message goes to the accepted recipients when the server
  // refuses some (default false: a refusal fails the send). With none
  // accepted the send fails either way.
  bool PartialDelivery() const { return partial_delivery_; }
  void PartialDelivery(bool value) { partial_delivery_ = value; }
  // The recipients the server refused in the last send, one
  // "address<TAB>reply" a line (the reply's last line). Never fails.
  std::string GetRefusedRecipients() const;
  // Whether the connection stays open after a send for the next one (RSET
  // first, a new connection when the old one was dropped, QUIT at the end
  // of the page); MAIL, RCPT and DATA then go in one write where the
  // server offers PIPELINING. Default false.
  bool KeepConnection() const { return keep_connection_; }
  void KeepConnection(bool value) { keep_connection_ = value; }
  // A bearer token for XOAUTH2 or OAUTHBEARER (whichever the server
  // offers; OAUTHBEARER first) as AuthUser; never read back, logged or
  // shown.
  void AuthToken(std::string_view value) { auth_token_ = value; }
  // Delivery status notifications where the server offers DSN: NOTIFY for
  // every recipient ("NEVER", or SUCCESS, FAILURE and DELAY joined by
  // commas) and RET ("FULL" or "HDRS"); empty for none. Other values fail
  // the send.
  const std::string& DsnNotify() const { return dsn_notify_; }
  void DsnNotify(std::string_view value) { dsn_notify_ = value; }
  const std::string& DsnReturn() const { return dsn_return_; }
  void DsnReturn(std::string_view value) { dsn_return_ = value; }
  // The recipients the server accepted in the last send and that the
  // message reached, one a line (after a failed send, only those that an
  // earlier part of it reached). Never fails.
  std::string GetAcceptedRecipients() const;
  // The envelope id that delivery status notifications quote (ENVID), sent
  // where the server offers DSN, encoded as xtext; empty for none. Text
  // that is not printable ASCII, or longer than 100 characters once
  // encoded, fails the send.
  const std::string& DsnEnvelopeId() const { return dsn_envelope_id_; }
  void DsnEnvelopeId(std::string_view value) { dsn_envelope_id_ = value; }
  // Empties what a successful send empties (recipients, body lines,
  // attachments, the HTML body, inline images, added headers), keeping the
  // settings and a kept connection: after a failed send, the next message
  // starts afresh. Never fails.
  void ClearMessage();

 private:
  // Where the exchange with the server stands, so that a failure knows
  // whether a QUIT can still be understood.
  enum class Link { kNone, kCommands, kData, kBroken };
  struct Reply {
    int16_t code;
    std::string text;
  };
  // Throw Failure (kSettingsCheck) naming the first setting that cannot be
  // sent, before any connection is made.
  void ValidateSend() const;
  void ValidateAddresses() const;
  std::shared_ptr<clsMail> NewMessage() const;
  void RunDialogue(clsMail& message);
  void OpenSession();
  bool ResumeSession();
  bool WantsExtensions() const;
  bool WantsUtf8Envelope() const;
  std::string SessionKey() const;
  void Transact(clsMail& message, bool resumed);
  bool PipelinedTransaction(clsMail& message, bool resumed);
  void RecipientRefused(const std::string& address, const Reply& reply);
  void SendMessageText(clsMail& message, std::string_view end);
  std::string MessageText(clsMail& message);
  void PrepareSigner();
  bool AsciiEnvelope() const;
  std::string EnvelopeAddress(const std::string& address) const;
  std::string RecipientCommand(const std::string& address) const;
  void AuthenticateBearer(const std::vector<std::string>& mechanisms);
  void Connect();
  void StartSecure();
  void Greet();
  bool Offers(std::string_view keyword) const;
  void Authenticate();
  void SendSecret(const std::string& command, std::string_view shown);
  void LeaveServer();
  void SendRecipients(clsMail& message, const Collection& list, bool to_list,
                      bool& pending);
  void SendMessageData(clsMail& message);
  std::string MailFromCommand(const clsMail& message) const;
  void SendCommand(const std::string& command);
  Reply NextReply();
  void HideSecrets(std::string& text) const;
  static std::string ShownReply(const std::string& text);
  Reply ExpectReply(std::initializer_list<int16_t> accepted);
  void CloseConnection() { connection_.Close(); }
  void ResetLists();
  void WriteSendLog();

  std::string server_;
  std::string mail_from_;
  std::string mail_reply_to_;
  std::string mail_errors_to_;
  std::string mail_precedence_;
  std::string mail_subject_;
  std::string content_type_;
  std::string content_charset_;
  std::string content_encode_;
  std::shared_ptr<Collection> mail_to_;
  std::shared_ptr<Collection> mail_cc_;
  std::shared_ptr<Collection> mail_bcc_;
  std::vector<std::string> content_;
  std::shared_ptr<Collection> attach_;
  bool slow_mode_ = false;
  bool log_event_ = false;
  net::TimeoutSetting timeout_;
  std::string security_;
  bool tls_verify_ = true;
  std::string tls_ca_file_;
  std::string auth_user_;
  std::string auth_password_;
  bool add_message_id_ = false;
  net::Connection connection_;
  std::string status_;
  // Of the send under way: the replies so far, the server's extensions
  // (the lines of its EHLO reply, upper case; empty after HELO) and the
  // state of the link.
  std::string server_replies_;
  std::vector<std::string> extensions_;
  std::string html_content_;
  std::vector<std::pair<std::string, std::string>> inline_images_;
  std::vector<std::pair<std::string, std::string>> extra_headers_;
  std::string dkim_domain_;
  std::string dkim_selector_;
  std::string dkim_key_file_;
  std::shared_ptr<const DkimSigner> dkim_signer_;
  std::string dkim_signer_key_;  // what dkim_signer_ was made from
  bool partial_delivery_ = false;
  std::vector<std::pair<std::string, std::string>> refused_;
  std::vector<std::string> accepted_;
  size_t delivered_ = 0;  // how many of accepted_ a message has reached
  bool keep_connection_ = false;
  std::string session_key_;      // the server and login the link was made for
  std::string pending_replies_;  // replies read ahead on a kept link
  std::string auth_token_;
  std::string dsn_notify_;
  std::string dsn_return_;
  std::string dsn_envelope_id_;
  // The credentials this send has encoded, never to be shown.
  std::vector<std::string> secrets_;
  Link link_ = Link::kNone;
};

}  // namespace corvane::penrill

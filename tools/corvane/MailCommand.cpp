// SPDX-License-Identifier: Apache-2.0
// corvane mail: sends one message through Corvane.SMTP, or a JSON Lines
// file of messages over one connection (--batch).
#include <fstream>
#include <iostream>
#include <sstream>

#include "frame/Component.h"
#include "frame/Registry.h"
#include "mail/SendLog.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/SystemFolders.h"
#include "tools/corvane/Command.h"
#include "tools/corvane/JsonValues.h"

namespace corvane::tool {
namespace {

struct MailOptions {
  std::string server;
  std::string from;
  std::vector<std::string> to;
  std::vector<std::string> cc;
  std::vector<std::string> bcc;
  std::string subject;
  std::string body;
  std::string body_file;
  std::vector<std::string> attach;
  bool slow = false;
  bool log = false;
  std::string log_folder;  // empty: the suite's log folder
  int32_t timeout = 0;
  std::string security;
  std::string user;
  std::string password_file;
  std::string ca_file;
  bool no_verify = false;
  bool message_id = false;
  std::string html_file;
  std::vector<std::string> inline_images;  // FILE=CID
  std::vector<std::string> headers;        // NAME=VALUE
  std::string reply_to;
  std::string dkim_domain;
  std::string dkim_selector;
  std::string dkim_key;
  bool partial = false;
  std::string batch;
  std::string token_file;
};

// The whole of a file the options name; throws Failure when it cannot be
// read.
std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    throw Failure(kFileNotFound, "corvane mail", "cannot read " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// "LEFT=RIGHT" split at the first '=' (for --header) or the last (for
// --inline, whose file name may hold one); throws Failure without one.
std::pair<std::string, std::string> SplitPair(const std::string& text,
                                              bool at_last,
                                              const std::string& option) {
  size_t equals = at_last ? text.rfind('=') : text.find('=');
  if (equals == std::string::npos || equals == 0) {
    throw Failure(kInvalidCall, "corvane mail",
                  option + " needs LEFT=RIGHT: " + text);
  }
  return {text.substr(0, equals), text.substr(equals + 1)};
}

// The body's lines, each given to MailContent on its own (the component
// ends each with CR LF); a final line end adds no empty line.
std::vector<std::string> BodyLines(const std::string& body) {
  std::vector<std::string> lines;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

// The body text; throws Failure when the body file cannot be read.
std::string BodyText(const MailOptions& options) {
  if (options.body_file.empty()) return options.body;
  std::ifstream file(options.body_file, std::ios::binary);
  if (!file) {
    throw Failure(kFileNotFound, "corvane mail",
                  "cannot read " + options.body_file);
  }
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The password: the first line of the password file (a password never goes
// on a command line, where other users of the machine can read it). Throws
// Failure when the file cannot be read.
std::string Password(const MailOptions& options) {
  if (options.password_file.empty()) return {};
  std::ifstream file(options.password_file, std::ios::binary);
  if (!file) {
    throw Failure(kFileNotFound, "corvane mail",
                  "cannot read " + options.password_file);
  }
  std::string password;
  std::getline(file, password);
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

// Puts the settings that hold for every message of a run.
void PutConnectionSettings(Dispatch& mail, const MailOptions& options) {
  mail.Put("SMTP", options.server);
  mail.Put("SlowMode", options.slow);
  mail.Put("LogEvent", options.log);
  if (options.timeout > 0) mail.Put("Timeout", options.timeout);
  if (!options.security.empty()) mail.Put("Security", options.security);
  if (!options.user.empty()) {
    mail.Put("AuthUser", options.user);
    mail.Put("AuthPassword", Password(options));
  }
  if (!options.token_file.empty()) {
    // The token's first line; like a password, never on the command line.
    std::istringstream token(FileText(options.token_file));
    std::string line;
    std::getline(token, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    mail.Put("AuthToken", line);
  }
  if (!options.ca_file.empty()) mail.Put("TlsCAFile", options.ca_file);
  if (options.no_verify) mail.Put("TlsVerify", false);
  if (options.message_id) mail.Put("AddMessageID", true);
  if (!options.dkim_domain.empty()) {
    mail.Put("DkimDomain", options.dkim_domain);
    mail.Put("DkimSelector", options.dkim_selector);
    mail.Put("DkimKeyFile", options.dkim_key);
  }
  if (options.partial) mail.Put("PartialDelivery", true);
}

// Puts the rich-message options; throws Failure when one is malformed or
// refused.
void PutRichSettings(Dispatch& mail, const MailOptions& options) {
  if (!options.html_file.empty()) {
    mail.Put("HtmlContent", FileText(options.html_file));
  }
  for (const auto& image : options.inline_images) {
    auto [path, cid] = SplitPair(image, true, "--inline");
    if (!mail.Call("AddInlineImage", {Variant(path), Variant(cid)}).ToBool()) {
      throw Failure(kInvalidCall, "corvane mail",
                    mail.Get("GetLastErrDescription").ToText());
    }
  }
  for (const auto& header : options.headers) {
    auto [name, value] = SplitPair(header, false, "--header");
    if (!mail.Call("AddHeader", {Variant(name), Variant(value)}).ToBool()) {
      throw Failure(kInvalidCall, "corvane mail",
                    mail.Get("GetLastErrDescription").ToText());
    }
  }
  if (!options.reply_to.empty()) mail.Put("ReplyTo", options.reply_to);
}

// Lines of a list the component gives ("a\r\nb\r\n") as JSON texts.
Json ListLines(const std::string& text) {
  Json lines = Json::array();
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Prints the refused recipients (with the server's reply) to standard
// error after a send.
void ShowRefused(Dispatch& mail) {
  std::istringstream in(mail.Get("GetRefusedRecipients").ToText());
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) std::cerr << "refused: " << line << "\n";
  }
}

// The texts of a JSON field that may be one text or a list of texts.
std::vector<std::string> Texts(const Json& message, const char* name) {
  std::vector<std::string> texts;
  if (!message.contains(name)) return texts;
  const Json& value = message[name];
  if (value.is_string()) {
    texts.push_back(value.get<std::string>());
  } else {
    for (const auto& item : value) texts.push_back(item.get<std::string>());
  }
  return texts;
}

// With --log, makes sure that the send log can be written before anything
// is sent, and points the component at the folder given; throws Failure
// naming the log's path and the reason otherwise.
void PrepareLog(const MailOptions& options) {
  if (!options.log) return;
  // The component writes to $CORVANE_LOG_DIR when set: the command settles
  // the folder there, so that both mean the same file.
  std::string folder = options.log_folder;
  if (folder.empty()) {
    folder = platform::EnvironmentVariable("CORVANE_LOG_DIR").value_or("");
  }
  if (folder.empty()) {
    folder = platform::SystemFolderPath(platform::SystemFolder::kLog);
  }
  if (folder.back() != '/') folder += '/';
  platform::SetEnvironmentVariable("CORVANE_LOG_DIR", folder);
  std::string path = folder + std::string(penrill::kSendLogName);
  try {
    platform::Files().OpenWriter(path, platform::WriteMode::kAppend)->Close();
  } catch (const Failure& failure) {
    throw Failure(
        failure.number, "corvane mail",
        "cannot write the send log " + path + ": " + failure.description);
  }
}

// --batch: each line of the file is a message ({"from", "to", "cc",
// "bcc", "subject", "body", "html", "attach", "reply_to", "headers"}), all
// sent over one kept connection; one JSON line of results per message on
// standard output. 0 when every message was sent, else 1.
int SendBatch(const MailOptions& options) {
  try {
    PrepareLog(options);
    std::ifstream file(options.batch, std::ios::binary);
    if (!file) {
      throw Failure(kFileNotFound, "corvane mail",
                    "cannot read " + options.batch);
    }
    auto mail = CreateObject("Corvane.SMTP");
    PutConnectionSettings(*mail, options);
    mail->Put("KeepConnection", true);
    int status = 0;
    int number = 0;
    for (std::string line; std::getline(file, line);) {
      ++number;
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      Json result = {{"line", number}};
      try {
        Json message = Json::parse(line);
        mail->Put("MailFrom", message.value("from", options.from));
        for (const auto& to : Texts(message, "to")) mail->Put("MailTo", to);
        for (const auto& cc : Texts(message, "cc")) mail->Put("MailCc", cc);
        for (const auto& bcc : Texts(message, "bcc")) mail->Put("MailBcc", bcc);
        mail->Put("MailSubject", message.value("subject", std::string()));
        for (const auto& body :
             BodyLines(message.value("body", std::string()))) {
          mail->Put("MailContent", body);
        }
        mail->Put("HtmlContent", message.value("html", std::string()));
        for (const auto& path : Texts(message, "attach"))
          mail->Put("Attach", path);
        if (message.contains("reply_to")) {
          mail->Put("ReplyTo", message["reply_to"].get<std::string>());
        }
        if (message.contains("headers")) {
          for (const auto& [name, value] : message["headers"].items()) {
            mail->Call("AddHeader",
                       {Variant(name), Variant(value.get<std::string>())});
          }
        }
        result["sent"] = mail->Call("SendMail").ToBool();
        if (!result["sent"].get<bool>()) {
          result["error"] = mail->Get("GetLastErrDescription").ToText();
        }
        result["accepted"] =
            ListLines(mail->Get("GetAcceptedRecipients").ToText());
        Json refused = Json::array();
        std::istringstream lines(mail->Get("GetRefusedRecipients").ToText());
        for (std::string entry; std::getline(lines, entry);) {
          if (!entry.empty() && entry.back() == '\r') entry.pop_back();
          size_t tab = entry.find('\t');
          if (tab == std::string::npos) continue;
          refused.push_back({{"address", entry.substr(0, tab)},
                             {"reply", entry.substr(tab + 1)}});
        }
        result["refused"] = refused;
      } catch (const Json::exception& error) {
        result["sent"] = false;
        result["error"] = std::string("not a JSON message: ") + error.what();
      }
      if (!result["sent"].get<bool>()) {
        // A failed send keeps its lists: they are emptied before the next
        // message. Its link was closed if the failure came from the
        // server; a message refused before connecting leaves it open.
        mail->Call("ClearMessage");
        status = 1;
      }
      std::cout << result.dump(-1, ' ', false, Json::error_handler_t::replace)
                << "\n";
    }
    mail->Call("OnEndPage");
    return status;
  } catch (const Failure& failure) {
    std::cerr << "corvane mail: " << failure.description << "\n";
    return 1;
  }
}

int SendMail(const MailOptions& options) {
  if (!options.batch.empty()) return SendBatch(options);
  try {
    PrepareLog(options);
    auto mail = CreateObject("Corvane.SMTP");
    PutConnectionSettings(*mail, options);
    mail->Put("MailFrom", options.from);
    for (const auto& to : options.to) mail->Put("MailTo", to);
    for (const auto& cc : options.cc) mail->Put("MailCc", cc);
    for (const auto& bcc : options.bcc) mail->Put("MailBcc", bcc);
    mail->Put("MailSubject", options.subject);
    for (const auto& line : BodyLines(BodyText(options))) {
      mail->Put("MailContent", line);
    }
    for (const auto& path : options.attach) mail->Put("Attach", path);
    PutRichSettings(*mail, options);
    const bool sent = mail->Call("SendMail").ToBool();
    ShowRefused(*mail);
    if (sent) return 0;
    std::cerr << mail->Get("GetLastErrDescription").ToText() << "\n"
              << SystemTextLine(LastSystemText(*mail));
    return 1;
  } catch (const Failure& failure) {
    std::cerr << "corvane mail: " << failure.description << "\n";
    return 1;
  }
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto options = std::make_shared<MailOptions>();
  auto* command =
      app.add_subcommand("mail", "Send one message through Corvane.SMTP");
  command->footer(
      "Example:\n  corvane mail --server mail.example.org:587 --security "
      "starttls \\\n    --from me@example.org --to you@example.org "
      "--subject Report \\\n    --body-file report.txt --attach report.pdf "
      "--log");
  command->add_option("--server", options->server, "SMTP server, HOST[:PORT]")
      ->required();
  // --from, --to and --subject are required unless --batch gives them.
  auto* from = command->add_option("--from", options->from, "Sender");
  auto* to =
      command->add_option("--to", options->to, "To recipient (repeatable)");
  command->add_option("--cc", options->cc, "Cc recipient (repeatable)");
  command->add_option("--bcc", options->bcc, "Bcc recipient (repeatable)");
  auto* subject = command->add_option("--subject", options->subject, "Subject");
  auto* body = command->add_option("--body", options->body, "Body text");
  command->add_option("--body-file", options->body_file, "File with the body")
      ->excludes(body);
  command->add_option("--attach", options->attach,
                      "File to attach (repeatable)");
  command->add_flag("--slow", options->slow, "One copy per To recipient");
  command
      ->add_option_function<std::string>(
          "--log",
          [options](const std::string& folder) {
            options->log = true;
            options->log_folder = folder;
          },
          "Append an entry to SendMail.log in FOLDER (default: "
          "/var/log/corvane, the build's bin/ in a build tree); fails "
          "before sending when the log cannot be written")
      ->expected(0, 1)
      ->type_name("[=FOLDER]");
  command->add_option("--timeout", options->timeout,
                      "Seconds for the connection and each reply");
  command
      ->add_option("--security", options->security,
                   "none, starttls or tls (port 465 unless given)")
      ->check(CLI::IsMember({"none", "starttls", "tls"}, CLI::ignore_case));
  auto* user = command->add_option("--user", options->user, "Login for AUTH");
  command
      ->add_option("--password-file", options->password_file,
                   "File whose first line is the password")
      ->needs(user);
  command->add_option("--ca-file", options->ca_file,
                      "PEM file of further trusted certificates");
  command->add_flag("--no-verify", options->no_verify,
                    "Do not check the server's certificate");
  command->add_flag("--message-id", options->message_id,
                    "Add a Message-ID line");
  command->add_option("--html", options->html_file,
                      "File with the HTML body (beside the plain one)");
  command->add_option("--inline", options->inline_images,
                      "FILE=CID: an image the HTML shows as cid:CID "
                      "(repeatable)");
  command->add_option("--header", options->headers,
                      "NAME=VALUE: a header line of your own (repeatable)");
  command->add_option("--reply-to", options->reply_to, "Reply-To address");
  auto* dkim_domain = command->add_option("--dkim-domain", options->dkim_domain,
                                          "DKIM signing domain");
  auto* dkim_selector = command->add_option(
      "--dkim-selector", options->dkim_selector, "DKIM selector");
  auto* dkim_key = command->add_option("--dkim-key", options->dkim_key,
                                       "PEM file of the DKIM private key");
  dkim_domain->needs(dkim_selector)->needs(dkim_key);
  dkim_selector->needs(dkim_domain);
  dkim_key->needs(dkim_domain);
  command->add_flag("--partial", options->partial,
                    "Deliver to the accepted recipients when some are "
                    "refused");
  command->add_option("--batch", options->batch,
                      "JSON Lines file of messages, sent over one "
                      "connection; a result line each");
  command
      ->add_option("--token-file", options->token_file,
                   "File with an OAuth bearer token (XOAUTH2/OAUTHBEARER)")
      ->needs(user);
  command->callback([options, from, to, subject, &exit_status] {
    if (options->batch.empty()) {
      for (const CLI::Option* option : {from, to, subject}) {
        if (option->count() == 0) throw CLI::RequiredError(option->get_name());
      }
    }
    exit_status = SendMail(*options);
  });
});

}  // namespace
}  // namespace corvane::tool

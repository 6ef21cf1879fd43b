// SPDX-License-Identifier: Apache-2.0
// corvane mail: sends one message through Corvane.SMTP.
#include <fstream>
#include <iostream>
#include <sstream>

#include "frame/Registry.h"
#include "mail/SendLog.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/SystemFolders.h"
#include "tools/corvane/Command.h"

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
};

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

int SendMail(const MailOptions& options) {
  try {
    PrepareLog(options);
    auto mail = CreateObject("Corvane.SMTP");
    mail->Put("SMTP", options.server);
    mail->Put("MailFrom", options.from);
    for (const auto& to : options.to) mail->Put("MailTo", to);
    for (const auto& cc : options.cc) mail->Put("MailCc", cc);
    for (const auto& bcc : options.bcc) mail->Put("MailBcc", bcc);
    mail->Put("MailSubject", options.subject);
    for (const auto& line : BodyLines(BodyText(options))) {
      mail->Put("MailContent", line);
    }
    for (const auto& path : options.attach) mail->Put("Attach", path);
    mail->Put("SlowMode", options.slow);
    mail->Put("LogEvent", options.log);
    if (options.timeout > 0) mail->Put("Timeout", options.timeout);
    if (!options.security.empty()) mail->Put("Security", options.security);
    if (!options.user.empty()) {
      mail->Put("AuthUser", options.user);
      mail->Put("AuthPassword", Password(options));
    }
    if (!options.ca_file.empty()) mail->Put("TlsCAFile", options.ca_file);
    if (options.no_verify) mail->Put("TlsVerify", false);
    if (options.message_id) mail->Put("AddMessageID", true);
    if (mail->Call("SendMail").ToBool()) return 0;
    std::cerr << mail->Get("GetLastErrDescription").ToText() << "\n";
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
  command->add_option("--from", options->from, "Sender")->required();
  command->add_option("--to", options->to, "To recipient (repeatable)")
      ->required();
  command->add_option("--cc", options->cc, "Cc recipient (repeatable)");
  command->add_option("--bcc", options->bcc, "Bcc recipient (repeatable)");
  command->add_option("--subject", options->subject, "Subject")->required();
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
  command->callback(
      [options, &exit_status] { exit_status = SendMail(*options); });
});

}  // namespace
}  // namespace corvane::tool

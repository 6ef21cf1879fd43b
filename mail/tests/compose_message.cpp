// SPDX-License-Identifier: Apache-2.0
// Writes to standard output the message a clsMail builds from the command
// line, so that tests can read it with an independent MIME parser.
#include <CLI/CLI.hpp>
#include <iostream>

#include "mail/clsMail.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace {

std::shared_ptr<corvane::Collection> ListOf(
    const std::vector<std::string>& entries) {
  auto list = corvane::Collection::New();
  for (const auto& entry : entries) list->Add(entry);
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Prints the message text that clsMail builds");
  std::string from, subject, reply_to, errors_to, precedence, content_file,
      content_type, charset, encode, current;
  std::vector<std::string> to, cc, bcc, attach;
  int copies = 1;
  app.add_option("--from", from);
  app.add_option("--to", to);
  app.add_option("--cc", cc);
  app.add_option("--bcc", bcc);
  app.add_option("--subject", subject);
  app.add_option("--reply-to", reply_to);
  app.add_option("--errors-to", errors_to);
  app.add_option("--precedence", precedence);
  app.add_option("--content-file", content_file, "The body text, as is");
  app.add_option("--content-type", content_type);
  app.add_option("--charset", charset);
  app.add_option("--encode", encode);
  app.add_option("--attach", attach);
  app.add_option("--current-recipent", current);
  app.add_option("--copies", copies, "GetMailBody calls, separated by NUL");
  CLI11_PARSE(app, argc, argv);

  try {
    corvane::penrill::clsMail mail;
    mail.MailFrom(from);
    mail.MailTo(ListOf(to));
    mail.MailCc(ListOf(cc));
    mail.MailBcc(ListOf(bcc));
    mail.Attach(ListOf(attach));
    mail.MailReplyTo(reply_to);
    mail.MailPrecedence(precedence);
    mail.MailErrorsTo(errors_to);
    mail.MailSubject(subject);
    if (!charset.empty()) mail.MailContentcharset(charset);
    if (!encode.empty()) mail.MailContentEncode(encode);
    if (!content_type.empty()) mail.MailContenttype(content_type);
    if (!content_file.empty()) {
      mail.MailContent(corvane::platform::Files().ReadFile(content_file));
    }
    mail.CurrentRecipent(current);
    for (int i = 0; i < copies; ++i) {
      if (i > 0) std::cout.put('\0');
      std::cout << mail.GetMailBody();
    }
    std::cout.flush();
    return std::cout ? 0 : 1;
  } catch (const corvane::Failure& failure) {
    std::cerr << failure.number << " " << failure.source << ": "
              << failure.description << "\n";
    return 2;
  }
}

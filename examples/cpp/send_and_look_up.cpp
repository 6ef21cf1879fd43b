// SPDX-License-Identifier: Apache-2.0
// Sends one message through an SMTP server with Penrill and looks a domain
// up on a whois server with Namewell, both created by ProgID from the
// registry of the Corvane installation this program is linked with.
//   send_and_look_up SMTP_SERVER WHOIS_SERVER DOMAIN FROM TO [ATTACHMENT]
// Servers are "host" or "host:port". Exit status 0 when the message went
// out and the record was found, 1 when not, 2 for wrong arguments.
#include <frame/MemoryHost.h>
#include <frame/Registry.h>

#include <iostream>
#include <string>

namespace {

using corvane::Dispatch;

bool SendMessage(const std::string& server, const std::string& from,
                 const std::string& to, const char* attachment) {
  auto page = corvane::MemoryContext::New();
  std::shared_ptr<Dispatch> mail = corvane::CreateObject("Corvane.SMTP");
  mail->Call("OnStartPage", {page});
  mail->Put("SMTP", server);
  mail->Put("MailFrom", from);
  mail->Put("MailTo", to);
  mail->Put("MailSubject", "Hello from an installed Corvane");
  mail->Put("MailContent", "Penrill sent this message.");
  if (attachment != nullptr) mail->Put("Attach", std::string(attachment));
  bool sent = mail->Call("SendMail").ToBool();
  if (!sent) {
    std::cerr << "SendMail failed: "
              << mail->Get("GetLastErrDescription").ToText() << "\n";
  }
  mail->Call("OnEndPage");
  return sent;
}

bool LookUp(const std::string& server, const std::string& domain) {
  std::shared_ptr<Dispatch> whois = corvane::CreateObject("Corvane.WhoisQuery");
  whois->Put("WhoisServer", server);
  if (!whois->Call("SendQuery", {domain}).ToBool()) {
    std::cerr << "SendQuery failed: "
              << whois->Get("GetLastErrDescription").ToText() << "\n";
    return false;
  }
  if (!whois->Get("IsRecordFound").ToBool()) {
    std::cout << domain << ": no record\n";
    return false;
  }
  std::cout << "Domain: " << whois->Get("GetDomainName").ToText() << "\n"
            << "Registrant: " << whois->Get("GetRegistrant").ToText() << "\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::cerr << "usage: send_and_look_up SMTP_SERVER WHOIS_SERVER DOMAIN "
                 "FROM TO [ATTACHMENT]\n";
    return 2;
  }
  try {
    bool sent =
        SendMessage(argv[1], argv[4], argv[5], argc == 7 ? argv[6] : nullptr);
    if (sent) std::cout << "Sent to " << argv[5] << "\n";
    bool found = LookUp(argv[2], argv[3]);
    return sent && found ? 0 : 1;
  } catch (const corvane::Failure& failure) {
    // CreateObject and members that raise throw the error triple.
    std::cerr << failure.number << " " << failure.source << ": "
              << failure.description << "\n";
    return 1;
  }
}

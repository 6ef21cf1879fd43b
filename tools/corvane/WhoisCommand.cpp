// SPDX-License-Identifier: Apache-2.0
// corvane whois [--server HOST[:PORT]] [--protocol whois|rdap|auto]
// [--rdap-server URL] [--timeout SECONDS] [--follow] [--json] QUERY:
// one query through Corvane.WhoisQuery, its fields printed as labelled text
// or as one JSON object.
// corvane whois --update-bootstrap FILE: checks FILE and installs it as
// the table of RDAP servers.
// corvane whois --update-bootstrap [--bootstrap-url URL]: fetches the
// registry's bootstrap files into the cache folder.
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "frame/Component.h"
#include "frame/Registry.h"
#include "tools/corvane/Command.h"
#include "whois/RdapBootstrap.h"
#include "whois/WhoisFields.h"

namespace corvane::tool {
namespace {

struct WhoisOptions {
  std::string query;
  std::string server;
  std::string protocol;
  std::string rdap_server;
  std::string bootstrap;
  std::string bootstrap_url;
  std::optional<int> timeout;
  bool follow = false;
  bool json = false;
};

using namewell::kWhoisFields;

// A field as text: on the label's line when it is one line, else below the
// label with every line indented.
void PrintField(std::ostream& out, const std::string& label,
                const std::string& value) {
  if (value.find('\n') == std::string::npos) {
    out << label << ": " << value << "\n";
    return;
  }
  out << label << ":\n";
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find('\n', start);
    if (end == std::string::npos) end = value.size();
    out << "    " << value.substr(start, end - start) << "\n";
    start = end + 1;
  }
}

// The text is composed whole before it is printed, so that a failure while
// reading the fields prints nothing but the error.
void PrintText(Dispatch& whois) {
  std::ostringstream text;
  bool found = whois.Get("IsRecordFound").ToBool();
  text << "Record found: " << (found ? "yes" : "no") << "\n";
  for (const auto& field : kWhoisFields) {
    std::string value = whois.Get(field.property).ToText();
    if (!value.empty()) PrintField(text, field.label, value);
  }
  for (const auto& field : namewell::kNetworkFields) {
    std::string value = whois.Get(field.property).ToText();
    if (!value.empty()) PrintField(text, field.label, value);
  }
  std::cout << text.str();
}

void PrintJson(Dispatch& whois) {
  nlohmann::ordered_json result;
  result["record_found"] = whois.Get("IsRecordFound").ToBool();
  for (const auto& field : kWhoisFields) {
    result[field.key] = whois.Get(field.property).ToText();
  }
  nlohmann::ordered_json network;
  bool any = false;
  for (const auto& field : namewell::kNetworkFields) {
    network[field.key] = whois.Get(field.property).ToText();
    any = any || !network[field.key].get_ref<const std::string&>().empty();
  }
  if (any) result.update(network);
  result["response"] = whois.Get("GetResponse").ToText();
  // Replies are 8-bit text; bytes that are not UTF-8 become U+FFFD.
  std::cout << result.dump(2, ' ', false,
                           nlohmann::json::error_handler_t::replace)
            << "\n";
}

int RunWhois(const WhoisOptions& options) {
  try {
    auto whois = CreateObject("Corvane.WhoisQuery");
    if (!options.server.empty()) whois->Put("WhoisServer", options.server);
    if (!options.protocol.empty()) whois->Put("Protocol", options.protocol);
    if (!options.rdap_server.empty()) {
      whois->Put("RdapServer", options.rdap_server);
    }
    if (!options.bootstrap_url.empty()) {
      whois->Put("BootstrapUrl", options.bootstrap_url);
    }
    if (options.follow) whois->Put("FollowReferral", true);
    if (options.timeout) {
      whois->Put("Timeout", static_cast<int32_t>(*options.timeout));
    }
    if (!whois->Call("SendQuery", {Variant(options.query)}).ToBool()) {
      std::cerr << whois->Get("GetLastErrDescription").ToText() << "\n"
                << SystemTextLine(LastSystemText(*whois));
      return 1;
    }
    options.json ? PrintJson(*whois) : PrintText(*whois);
    // A fresh object records a failure only when a referral failed.
    if (whois->Get("GetLastErrNum").ToInt32() != 0) {
      std::cerr << "corvane whois: a referral failed: "
                << whois->Get("GetLastErrDescription").ToText() << "\n"
                << SystemTextLine(LastSystemText(*whois));
    }
    return 0;
  } catch (const Failure& failure) {
    std::cerr << "corvane whois: " << failure.description << "\n";
    return 1;
  }
}

// Installs the bootstrap file; the installed one stays as it was when the
// new one is refused.
int UpdateBootstrap(const std::string& file) {
  namewell::RdapBootstrap installed;
  try {
    installed = namewell::InstallBootstrap(file);
  } catch (const Failure& failure) {
    std::cerr << "corvane whois: " << failure.description
              << "; the installed RDAP bootstrap is unchanged.\n";
    return 1;
  }
  std::cout << "Installed the RDAP bootstrap of " << installed.publication
            << " (" << installed.servers.size() << " entries) as "
            << namewell::BootstrapPath() << "\n";
  return 0;
}

// Fetches the registry's bootstrap files through the component; the copies
// in place stay when a fetch fails or brings no bootstrap.
int FetchBootstrap(const WhoisOptions& options) {
  try {
    auto whois = CreateObject("Corvane.WhoisQuery");
    if (!options.bootstrap_url.empty()) {
      whois->Put("BootstrapUrl", options.bootstrap_url);
    }
    if (options.timeout) {
      whois->Put("Timeout", static_cast<int32_t>(*options.timeout));
    }
    bool updated = whois->Call("UpdateBootstrap", {}).ToBool();
    std::cout << whois->Get("GetBootstrapStatus").ToText() << "\n";
    if (!updated) {
      std::cerr << "corvane whois: "
                << whois->Get("GetLastErrDescription").ToText() << "\n"
                << SystemTextLine(LastSystemText(*whois));
      return 1;
    }
    return 0;
  } catch (const Failure& failure) {
    std::cerr << "corvane whois: " << failure.description << "\n";
    return 1;
  }
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto* command = app.add_subcommand(
      "whois", "Query a whois server through Corvane.WhoisQuery");
  command->footer(
      "Example:\n  corvane whois --follow example.com\n"
      "  corvane whois --protocol rdap --json example.com\n"
      "  corvane whois --follow 192.0.2.7\n"
      "  corvane whois --update-bootstrap");
  auto options = std::make_shared<WhoisOptions>();
  auto* query =
      command->add_option("query", options->query,
                          "The name, IP address or AS number (AS64496) to "
                          "look up");
  auto* update = command->add_option(
      "--update-bootstrap", options->bootstrap,
      "Check FILE (the RDAP bootstrap of domain registries, dns.json) and "
      "install it as the table of RDAP servers; without FILE, fetch the "
      "registry's bootstrap files (domains, IPv4, IPv6, AS numbers) into "
      "the cache folder");
  update->expected(0, 1);
  update->type_name("[FILE]");
  update->excludes(query);
  command->add_option(
      "--bootstrap-url", options->bootstrap_url,
      "The folder URL the bootstrap files are fetched from (default: "
      "$CORVANE_RDAP_BOOTSTRAP_URL, else https://data.iana.org/rdap/)");
  command
      ->add_option("--protocol", options->protocol,
                   "whois (default), rdap, or auto (RDAP where the "
                   "bootstrap knows a server)")
      ->check(CLI::IsMember({"whois", "rdap", "auto"}, CLI::ignore_case));
  command->add_option("--rdap-server", options->rdap_server,
                      "The RDAP base URL to ask instead of the bootstrap's");
  command->add_option("--server", options->server,
                      "The whois server, HOST or HOST:PORT");
  command
      ->add_option("--timeout", options->timeout,
                   "Seconds allowed for the connection and the reply")
      ->check(CLI::PositiveNumber);
  command->add_flag("--follow", options->follow,
                    "Follow the servers a reply refers to (at most 3)");
  command->add_flag("--json", options->json, "Print one JSON object");
  command->callback([options, update, query, &exit_status] {
    if (update->count() > 0 && options->bootstrap.empty()) {
      exit_status = FetchBootstrap(*options);
    } else if (update->count() > 0) {
      exit_status = UpdateBootstrap(options->bootstrap);
    } else if (query->empty()) {
      throw CLI::RequiredError("query");
    } else {
      exit_status = RunWhois(*options);
    }
  });
});

}  // namespace
}  // namespace corvane::tool

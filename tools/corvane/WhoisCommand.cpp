// corvane whois [--server HOST[:PORT]] [--timeout SECONDS] [--follow]
// [--json] QUERY:
// one query through Corvane.WhoisQuery, its fields printed as labelled text
// or as one JSON object.
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>

#include "frame/Registry.h"
#include "tools/corvane/Command.h"
#include "whois/WhoisFields.h"

namespace corvane::tool {
namespace {

struct WhoisOptions {
  std::string query;
  std::string server;
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
  std::cout << text.str();
}

void PrintJson(Dispatch& whois) {
  nlohmann::ordered_json result;
  result["record_found"] = whois.Get("IsRecordFound").ToBool();
  for (const auto& field : kWhoisFields) {
    result[field.key] = whois.Get(field.property).ToText();
  }
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
    if (options.follow) whois->Put("FollowReferral", true);
    if (options.timeout) {
      whois->Put("Timeout", static_cast<int32_t>(*options.timeout));
    }
    if (!whois->Call("SendQuery", {Variant(options.query)}).ToBool()) {
      std::cerr << whois->Get("GetLastErrDescription").ToText() << "\n";
      return 1;
    }
    options.json ? PrintJson(*whois) : PrintText(*whois);
    // A fresh object records a failure only when a referral failed.
    if (whois->Get("GetLastErrNum").ToInt32() != 0) {
      std::cerr << "corvane whois: a referral failed: "
                << whois->Get("GetLastErrDescription").ToText() << "\n";
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
  auto options = std::make_shared<WhoisOptions>();
  command->add_option("query", options->query, "The name to look up")
      ->required();
  command->add_option("--server", options->server,
                      "The whois server, HOST or HOST:PORT");
  command
      ->add_option("--timeout", options->timeout,
                   "Seconds allowed for the connection and the reply")
      ->check(CLI::PositiveNumber);
  command->add_flag("--follow", options->follow,
                    "Follow the servers a reply refers to (at most 3)");
  command->add_flag("--json", options->json, "Print one JSON object");
  command->callback(
      [options, &exit_status] { exit_status = RunWhois(*options); });
});

}  // namespace
}  // namespace corvane::tool

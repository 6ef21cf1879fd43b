// SPDX-License-Identifier: Apache-2.0
#include "web/WhoisPage.h"

#include "web/FormFields.h"
#include "web/Html.h"
#include "whois/WhoisFields.h"

namespace corvane::web {
namespace {

// The protocols the component speaks, the first its default.
constexpr const char* kProtocols[] = {"whois", "rdap", "auto"};

std::string ProtocolChoiceHtml(const std::string& chosen) {
  std::string html =
      "<label><span>Protocol</span><select name=\"protocol\" "
      "id=\"protocol\">";
  for (const char* protocol : kProtocols) {
    html += "<option";
    if (chosen == protocol) html += " selected";
    html += ">" + std::string(protocol) + "</option>";
  }
  return html + "</select></label>";
}

std::string FormHtml(const std::string& query, const std::string& protocol) {
  return "<form method=\"post\" action=\"/whois\">"
         "<label><span>Domain or host</span><input type=\"text\" "
         "name=\"query\" id=\"query\" value=\"" +
         Escape(query) + "\"></label>" + ProtocolChoiceHtml(protocol) +
         "<button type=\"submit\" id=\"send\">Look up</button></form>\n";
}

std::string LookupHtml(PageCall& call, const std::string& query,
                       const std::string& protocol) {
  auto context = HttpContext::New(call.request, call.server, {});
  PageObject whois("Corvane.WhoisQuery", context);
  if (!call.settings.whois_server.empty()) {
    whois->Put("WhoisServer", call.settings.whois_server);
  }
  if (!call.settings.rdap_server.empty()) {
    whois->Put("RdapServer", call.settings.rdap_server);
  }
  // The component refuses a protocol it does not speak, in its own words.
  whois->Put("Protocol", protocol);
  if (!whois->Call("SendQuery", {Variant(query)}).ToBool()) {
    return whois.ErrorTripleHtml() + PageTextHtml(*context);
  }
  bool found = whois->Get("IsRecordFound").ToBool();
  std::vector<std::pair<std::string, std::string>> rows{
      {"Record found", found ? "yes" : "no"}};
  for (const auto& field : namewell::kWhoisFields) {
    rows.emplace_back(field.label, whois->Get(field.property).ToText());
  }
  for (const auto& field : namewell::kNetworkFields) {
    std::string value = whois->Get(field.property).ToText();
    if (!value.empty()) rows.emplace_back(field.label, std::move(value));
  }
  return "<div class=\"ok\">Looked up <strong>" + Escape(query) +
         "</strong></div>\n<div id=\"fields\">" + PairsHtml(rows) + "</div>" +
         TextBlockHtml("Reply", whois->Get("GetResponse").ToText()) +
         PageTextHtml(*context);
}

}  // namespace

PageAnswer WhoisPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Whois";
  std::string query;
  std::string protocol = kProtocols[0];
  if (call.IsPost()) {
    auto fields = FormFields::Parse(call.body);
    query = fields.Value("query");
    protocol = fields.Value("protocol");
    answer.body_html = LookupHtml(call, query, protocol);
  }
  answer.body_html.insert(0, FormHtml(query, protocol));
  return answer;
}

}  // namespace corvane::web

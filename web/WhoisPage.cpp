// SPDX-License-Identifier: Apache-2.0
#include "web/WhoisPage.h"

#include "frame/Component.h"
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

// The fields a person asks for first, in this order; the others follow.
constexpr std::string_view kFirstFields[] = {
    "GetDomainName",    "GetRegistrar",
    "GetRegistrant",    "GetRecordCreateTime",
    "GetExpiryTime",    "GetDomainStatus",
    "GetDomainServers", "GetRecordLastUpdateTime",
};

bool IsFirstField(std::string_view property) {
  for (auto first : kFirstFields) {
    if (first == property) return true;
  }
  return false;
}

std::string LabelOf(std::string_view property) {
  for (const auto& field : namewell::kWhoisFields) {
    if (field.property == property) return field.label;
  }
  return std::string(property);
}

// The server's reply folded away: an RDAP answer's JSON or a whois text.
std::string ReplyHtml(const std::string& reply) {
  if (reply.empty()) return {};
  bool json = reply.find_first_not_of(" \t\r\n") != std::string::npos &&
              reply[reply.find_first_not_of(" \t\r\n")] == '{';
  return std::string("<details id=\"reply\"><summary>") +
         (json ? "The RDAP answer (JSON, " : "The server's reply (") +
         std::to_string(reply.size()) + " bytes)</summary><pre>" +
         Escape(reply) + "</pre></details>\n";
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
    return OutcomeHtml(
               false,
               "The lookup of <strong>" + Escape(query) + "</strong> failed: " +
                   Escape(whois->Get("GetLastErrDescription").ToText()),
               "<p>Error " + Escape(whois->Get("GetLastErrNum").ToText()) +
                   " from " + Escape(whois->Get("GetLastErrSource").ToText()) +
                   "</p>" + SystemTextHtml(LastSystemText(*whois)),
               "error") +
           PageTextHtml(*context);
  }
  std::string reply = whois->Get("GetResponse").ToText();
  if (!whois->Get("IsRecordFound").ToBool()) {
    return "<p class=\"error\" id=\"not-found\">The server has no record of "
           "<strong>" +
           Escape(query) +
           "</strong>: it is not registered, or not under that name.</p>\n" +
           ReplyHtml(reply) + PageTextHtml(*context);
  }
  std::vector<std::pair<std::string, std::string>> first{
      {"Record found", "yes"}};
  for (auto property : kFirstFields) {
    std::string value = whois->Get(std::string(property)).ToText();
    if (!value.empty()) first.emplace_back(LabelOf(property), value);
  }
  std::vector<std::pair<std::string, std::string>> more;
  for (const auto& field : namewell::kWhoisFields) {
    if (IsFirstField(field.property)) continue;
    std::string value = whois->Get(field.property).ToText();
    if (!value.empty()) more.emplace_back(field.label, value);
  }
  for (const auto& field : namewell::kNetworkFields) {
    std::string value = whois->Get(field.property).ToText();
    if (!value.empty()) more.emplace_back(field.label, std::move(value));
  }
  std::string html =
      "<p class=\"ok\" id=\"summary\">Found a record for <strong>" +
      Escape(query) + "</strong>.</p>\n<div id=\"fields\">" + PairsHtml(first);
  if (!more.empty()) html += "<h2>Contacts and more</h2>" + PairsHtml(more);
  return html + "</div>\n" + ReplyHtml(reply) + PageTextHtml(*context);
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

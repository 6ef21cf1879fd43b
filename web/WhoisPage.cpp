#include "web/WhoisPage.h"

#include "web/FormFields.h"
#include "web/Html.h"
#include "whois/WhoisFields.h"

namespace corvane::web {
namespace {

std::string FormHtml(const std::string& query) {
  return "<form method=\"post\" action=\"/whois\">"
         "<label><span>Domain or host</span><input type=\"text\" "
         "name=\"query\" id=\"query\" value=\"" +
         Escape(query) +
         "\"></label><button type=\"submit\" id=\"send\">Look up</button>"
         "</form>\n";
}

std::string LookupHtml(PageCall& call, const std::string& query) {
  auto context = HttpContext::New(call.request, call.server, {});
  PageObject whois("Corvane.WhoisQuery", context);
  if (!call.settings.whois_server.empty()) {
    whois->Put("WhoisServer", call.settings.whois_server);
  }
  if (!whois->Call("SendQuery", {Variant(query)}).ToBool()) {
    return whois.ErrorTripleHtml() + PageTextHtml(*context);
  }
  bool found = whois->Get("IsRecordFound").ToBool();
  std::vector<std::pair<std::string, std::string>> rows{
      {"Record found", found ? "yes" : "no"}};
  for (const auto& field : namewell::kWhoisFields) {
    rows.emplace_back(field.label, whois->Get(field.property).ToText());
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
  if (call.IsPost()) {
    query = FormFields::Parse(call.body).Value("query");
    answer.body_html = LookupHtml(call, query);
  }
  answer.body_html.insert(0, FormHtml(query));
  return answer;
}

}  // namespace corvane::web

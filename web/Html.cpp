// SPDX-License-Identifier: Apache-2.0
#include "web/Html.h"

#include <cstdint>

#include "frame/Text.h"

namespace corvane::web {
namespace {

constexpr std::string_view kStyle =
    R"(body{font:15px/1.45 system-ui,sans-serif;margin:0;color:#1d2430;background:#f6f7f9}
header{background:#23324a;color:#fff;padding:.6em 1.2em}
header a{color:#dfe8f7;margin-right:1.1em;text-decoration:none}
header a:hover{text-decoration:underline}
header strong{margin-right:1.6em}
main{max-width:60em;margin:1.2em auto;padding:0 1.2em}
form{background:#fff;border:1px solid #d5dae2;padding:1em;margin:1em 0}
label{display:block;margin:.45em 0}
label span{display:inline-block;min-width:9em}
input[type=text],textarea,select{width:28em;max-width:100%}
table{border-collapse:collapse;background:#fff;margin:.8em 0}
th,td{border:1px solid #d5dae2;padding:.25em .6em;text-align:left;vertical-align:top}
td{white-space:pre-wrap}
th{background:#eef1f5}
pre{background:#fff;border:1px solid #d5dae2;padding:.6em;white-space:pre-wrap;word-break:break-all}
.error{border-left:4px solid #b3261e;background:#fdecea;padding:.5em 1em}
.ok{border-left:4px solid #2e7d32;background:#eaf5ea;padding:.5em 1em}
.inline{display:inline;background:none;border:0;padding:0;margin:0}
)";

constexpr std::pair<const char*, const char*> kNavigation[] = {
    {"/", "Components"}, {"/upload", "Upload"}, {"/files", "Files"},
    {"/mail", "Mail"},   {"/whois", "Whois"},   {"/gateway/", "Gateway"},
};

}  // namespace

std::string Escape(std::string_view text) { return EscapeHtml(text); }

std::string_view StyleSheet() { return kStyle; }

std::string PageHtml(std::string_view title, std::string_view body) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<title>" +
      Escape(title) +
      " - Corvane console</title>"
      "<link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n"
      "<header><strong>Corvane console</strong>";
  for (const auto& [path, label] : kNavigation) {
    html += "<a href=\"" + std::string(path) + "\">" + label + "</a>";
  }
  html += "</header>\n<main><h1>" + Escape(title) + "</h1>\n";
  html += body;
  html += "</main></body></html>\n";
  return html;
}

std::string MarkupTableHtml(const std::vector<std::string>& headings,
                            const std::vector<std::vector<std::string>>& rows) {
  std::string html = "<table><tr>";
  for (const auto& heading : headings)
    html += "<th>" + Escape(heading) + "</th>";
  html += "</tr>\n";
  for (const auto& row : rows) {
    html += "<tr>";
    for (const auto& cell : row) html += "<td>" + cell + "</td>";
    html += "</tr>\n";
  }
  return html + "</table>\n";
}

std::string TableHtml(const std::vector<std::string>& headings,
                      const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::vector<std::string>> escaped;
  escaped.reserve(rows.size());
  for (const auto& row : rows) {
    std::vector<std::string> cells;
    for (const auto& cell : row) cells.push_back(Escape(cell));
    escaped.push_back(std::move(cells));
  }
  return MarkupTableHtml(headings, escaped);
}

std::string PairsHtml(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string html = "<table>\n";
  for (const auto& [label, value] : pairs) {
    html += "<tr><th>" + Escape(label) + "</th><td>" + Escape(value) +
            "</td></tr>\n";
  }
  return html + "</table>\n";
}

std::string ErrorHtml(int32_t number, std::string_view source,
                      std::string_view description) {
  return ErrorHtml(std::to_string(number), source, description);
}

std::string ErrorHtml(std::string_view number, std::string_view source,
                      std::string_view description) {
  return "<div class=\"error\" id=\"error\"><strong>Error " + Escape(number) +
         "</strong> from " + Escape(source) + ": " + Escape(description) +
         "</div>\n";
}

std::string PercentEncoded(std::string_view text) {
  return PercentEncode(text, "-._~");
}

std::string TextBlockHtml(std::string_view heading, std::string_view text) {
  return "<h2>" + Escape(heading) + "</h2><pre>" + Escape(text) + "</pre>\n";
}

}  // namespace corvane::web

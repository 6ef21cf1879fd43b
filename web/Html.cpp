// SPDX-License-Identifier: Apache-2.0
#include "web/Html.h"

#include <cstdint>
#include <iterator>

#include "frame/Text.h"
#include "web/ConsoleScript.h"

namespace corvane::web {
namespace {

constexpr std::string_view kStyle =
    R"(:root{color-scheme:light dark;--fg:#1d2430;--bg:#f6f7f9;--panel:#fff;--line:#c3cad5;--edge:#6b7686;--th:#eef1f5;--link:#1a56b0;--head:#23324a;--mark:#8cb8ff;--err:#b3261e;--err-bg:#fdecea;--ok:#2e7d32;--ok-bg:#eaf5ea}
@media (prefers-color-scheme:dark){:root{--fg:#e6e9ee;--bg:#14181f;--panel:#1d232c;--line:#3a4452;--edge:#8591a3;--th:#262e39;--link:#8cb8ff;--head:#0b1220;--err:#f28b82;--err-bg:#3b1f1d;--ok:#81c995;--ok-bg:#1b3221}}
*,*::before,*::after{box-sizing:border-box}
body{font:16px/1.5 system-ui,sans-serif;margin:0;color:var(--fg);background:var(--bg)}
a{color:var(--link)}
.skip{position:absolute;left:-999em;top:.3em;background:var(--panel);color:var(--link);padding:.4em .8em;z-index:2}
.skip:focus{left:.5em}
header{background:var(--head);color:#fff;padding:.5em 1em;display:flex;flex-wrap:wrap;align-items:center;gap:.3em 1.4em}
header nav{display:flex;flex-wrap:wrap;gap:.2em 1.1em}
header a{color:#e8eefa;text-decoration:none;padding:.1em 0;border-bottom:2px solid transparent}
header a:hover,header a:focus{text-decoration:underline}
header a[aria-current=page]{color:#fff;font-weight:600;border-bottom-color:var(--mark)}
header form.inline{margin-left:auto}
header button{background:none;color:#e8eefa;border:1px solid #8591a3}
main{max-width:60em;margin:1em auto;padding:0 1em}
main:focus{outline:none}
h1{font-size:1.6em;margin:.4em 0}
form{background:var(--panel);border:1px solid var(--line);padding:1em;margin:1em 0}
label{display:block;margin:.45em 0}
label span{display:inline-block;min-width:9em}
input,textarea,select,button{font:inherit;color:inherit;max-width:100%}
input[type=text],input[type=password],input[type=email],input[type=number],textarea,select{width:28em;background:var(--panel);border:1px solid var(--edge);padding:.2em .4em}
button{background:var(--th);border:1px solid var(--edge);border-radius:3px;padding:.25em .9em;cursor:pointer}
table{border-collapse:collapse;background:var(--panel);margin:.8em 0;display:block;max-width:100%;overflow-x:auto}
th,td{border:1px solid var(--line);padding:.25em .6em;text-align:left;vertical-align:top}
td{white-space:pre-wrap;overflow-wrap:break-word}
button{white-space:nowrap}
th{background:var(--th)}
pre{background:var(--panel);border:1px solid var(--line);padding:.6em;white-space:pre-wrap;word-break:break-all}
code{overflow-wrap:anywhere}
details{margin:.8em 0}
summary{cursor:pointer}
.error{border-left:4px solid var(--err);background:var(--err-bg);padding:.5em 1em}
.ok{border-left:4px solid var(--ok);background:var(--ok-bg);padding:.5em 1em}
.inline{display:inline;background:none;border:0;padding:0;margin:0}
fieldset{border:1px solid var(--line);margin:.6em 0;padding:.3em .8em}
fieldset label{margin:.2em 0}
form.dropping{outline:3px dashed var(--link);outline-offset:2px}
.upload-status{margin:.5em 0;overflow-wrap:anywhere}
.upload-status progress{width:100%;max-width:28em;vertical-align:middle}
@media (max-width:40em){main{padding:0 .6em}form{padding:.7em}label span{display:block;min-width:0}th,td{padding:.2em .35em}}
)";

constexpr std::string_view kFavicon =
    R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32"><rect width="32" height="32" rx="6" fill="#23324a"/><path d="M22 9.5a8 8 0 1 0 0 13" fill="none" stroke="#8cb8ff" stroke-width="4" stroke-linecap="round"/></svg>)";

constexpr std::pair<const char*, const char*> kNavigation[] = {
    {"/", "Components"}, {"/upload", "Upload"}, {"/files", "Files"},
    {"/mail", "Mail"},   {"/whois", "Whois"},   {"/gateway/", "Gateway"},
};

}  // namespace

std::string Escape(std::string_view text) { return EscapeHtml(text); }

std::string_view StyleSheet() { return kStyle; }

std::string_view FaviconSvg() { return kFavicon; }

namespace {

// Whether the navigation entry `entry` leads to the page at `current` or
// to a page under it.
bool IsCurrent(std::string_view entry, std::string_view current) {
  if (entry == "/") return current == "/";
  if (entry.ends_with('/')) entry.remove_suffix(1);
  return current == entry ||
         (current.starts_with(entry) && current.size() > entry.size() &&
          current[entry.size()] == '/');
}

}  // namespace

std::string PageHtml(std::string_view title, std::string_view body,
                     const PageFrame& frame) {
  std::string escaped_title = Escape(title);
  std::string html;
  // Taken once: the frame is about 1 KiB around the body.
  html.reserve(2048 + body.size() + 2 * escaped_title.size());
  html +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, "
      "initial-scale=1\"><title>";
  html += escaped_title;
  html +=
      " - Corvane console</title>"
      "<link rel=\"icon\" href=\"/favicon.svg\" type=\"image/svg+xml\">"
      "<link rel=\"stylesheet\" href=\"/style.css\"><script src=\"";
  html += ConsoleScriptPath();
  html +=
      "\" defer></script></head><body>\n"
      "<header><a class=\"skip\" href=\"#main\">Skip to the content</a>"
      "<strong>Corvane console</strong>";
  if (frame.navigation) {
    html += "<nav aria-label=\"Pages\">";
    for (const auto& [path, label] : kNavigation) {
      html += "<a href=\"";
      html += path;
      html += '"';
      if (IsCurrent(path, frame.current)) html += " aria-current=\"page\"";
      html += '>';
      html += label;
      html += "</a>";
    }
    html += "</nav>";
  }
  if (frame.log_out) {
    html +=
        "<form method=\"post\" action=\"/logout\" class=\"inline\">"
        "<button type=\"submit\" id=\"log-out\">Log out</button></form>";
  }
  html += "</header>\n<main id=\"main\" tabindex=\"-1\"><h1>";
  html += escaped_title;
  html += "</h1>\n";
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
                      std::string_view description,
                      std::string_view system_text) {
  return ErrorHtml(std::to_string(number), source, description, system_text);
}

std::string ErrorHtml(std::string_view number, std::string_view source,
                      std::string_view description,
                      std::string_view system_text) {
  return "<div class=\"error\" id=\"error\"><strong>Error " + Escape(number) +
         "</strong> from " + Escape(source) + ": " + Escape(description) +
         "</div>\n" + SystemTextHtml(system_text);
}

std::string ErrorDetailsHtml(std::string_view number, std::string_view source,
                             std::string_view description,
                             std::string_view system_text) {
  return "<p>Error " + Escape(number) + " from " + Escape(source) + ": " +
         Escape(description) + "</p>" + SystemTextHtml(system_text);
}

std::string SystemTextHtml(std::string_view system_text) {
  if (system_text.empty()) return {};
  return "<p id=\"system-text\">System: " + Escape(system_text) + "</p>";
}

std::string OutcomeHtml(bool succeeded, std::string_view sentence,
                        std::string_view details, std::string_view id) {
  std::string html = "<p class=\"";
  html += succeeded ? "ok" : "error";
  html += "\" id=\"";
  html += id;
  html += "\">";
  html += sentence;
  html += "</p>\n";
  if (!details.empty()) {
    html += "<details><summary>Details</summary>";
    html += details;
    html += "</details>\n";
  }
  return html;
}

std::string PercentEncoded(std::string_view text) {
  return PercentEncode(text, "-._~");
}

std::string TextBlockHtml(std::string_view heading, std::string_view text) {
  return "<h2>" + Escape(heading) + "</h2><pre>" + Escape(text) + "</pre>\n";
}

}  // namespace corvane::web

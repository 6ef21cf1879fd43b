// SPDX-License-Identifier: Apache-2.0
#include "web/IndexPage.h"

#include "web/Html.h"

namespace corvane::web {

PageAnswer IndexPage(PageCall& call) {
  std::string html;
  html.reserve(2048);
  html +=
      "<p>Each page uses one component as a page script would: created by "
      "its ProgID, bound to this request, its results and failures shown."
      "</p>\n<ul>\n"
      "<li><a href=\"/upload\">Upload</a>: store files and read form fields "
      "with Corvane.upload</li>\n"
      "<li><a href=\"/files\">Files</a>: list, download, delete, copy "
      "files and make directories in the data directory with "
      "Corvane.Vantry</li>\n"
      "<li><a href=\"/mail\">Mail</a>: send a message with attachments with "
      "Corvane.SMTP</li>\n"
      "<li><a href=\"/whois\">Whois</a>: look a domain up with "
      "Corvane.WhoisQuery</li>\n"
      "<li><a href=\"/gateway/\">Gateway</a>: upload through the Wharfpost "
      "CGI program</li>\n</ul>\n";
  html += "<p>Data directory: <code>";
  html += Escape(call.settings.data_directory);
  html += "</code>; mail server: <code>";
  html += Escape(call.settings.smtp_server);
  html += "</code>; whois server: <code>";
  html +=
      Escape(call.settings.whois_server.empty() ? "the component's default"
                                                : call.settings.whois_server);
  html += "</code></p>\n";
  PageAnswer answer;
  answer.title = "Components";
  answer.body_html = std::move(html);
  return answer;
}

}  // namespace corvane::web

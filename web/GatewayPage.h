// SPDX-License-Identifier: Apache-2.0
// The Gateway page: an upload form that posts to the Wharfpost CGI program,
// which the console runs with its own .ini (UploadRoot the data directory's
// gateway/), and the result page that shows the redirect's outcome.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/Page.h"

namespace corvane::web {

// The folder the form's cookie names, under UploadRoot.
inline constexpr char kGatewayFolder[] = "console";

// Puts a copy of `program` and its .ini into cgi-bin/ of the console's
// private folder (the program reads the .ini beside itself), out of reach
// of the pages that write files; returns the copy's path. Throws Failure
// when they cannot be written.
std::string InstallGateway(const ConsoleSettings& settings,
                           const std::string& program);

// GET: the form, with the cookie that names the upload folder.
PageAnswer GatewayFormPage(PageCall& call);

// POST: runs the program as a CGI program and hands its redirect on; an
// answer without one is shown as text. The program sees the referrer only
// when it is a page of the console, and a redirect that leads elsewhere is
// sent to the console's own result page instead.
PageAnswer GatewayPostPage(PageCall& call);

// The header lines of a CGI program's answer, up to the blank line (or the
// first line that is no header), as name and trimmed value; `body` is left
// on the rest. Never fails.
std::vector<std::pair<std::string, std::string>> CgiAnswerHeaders(
    std::string_view answer, std::string_view& body);

// An HTML answer of the program as text: a line break for <br> and the end
// of a block, no other tags, the character references it escapes read, and
// `hidden` (the console's private folder) named "the console's folder".
// Never fails.
std::string GatewayAnswerText(std::string_view html, const std::string& hidden);

// The result page the redirect leads to (/gateway/result): a sentence on
// what was stored, the code and its meaning folded away, the stored files,
// the space left and the form's text fields.
PageAnswer GatewayResultPage(PageCall& call);

// The program's own name for the result page (Wharfposted.asp): a
// permanent redirect to the console's, with the same query.
PageAnswer GatewayOldResultPage(PageCall& call);

}  // namespace corvane::web

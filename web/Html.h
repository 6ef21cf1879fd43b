// SPDX-License-Identifier: Apache-2.0
// Pieces of the console's server-rendered pages: escaping, the common frame
// with its navigation and stylesheet, tables and the error triple.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::web {

// The text with &, <, >, " and ' written as character references.
std::string Escape(std::string_view text);

// How a page is framed: the path of the page shown, whose navigation entry
// is marked as current; whether the navigation shows at all (not on the
// login page), and whether it offers to log out.
struct PageFrame {
  std::string_view current;
  bool navigation = true;
  bool log_out = false;
};

// A whole page: a skip link, the title, the navigation and `body` (already
// HTML).
std::string PageHtml(std::string_view title, std::string_view body,
                     const PageFrame& frame = {});

// The one stylesheet every page links to as /style.css.
std::string_view StyleSheet();

// The console's icon, an SVG served as /favicon.svg.
std::string_view FaviconSvg();

// A table with a header row; the cells are HTML already.
std::string MarkupTableHtml(const std::vector<std::string>& headings,
                            const std::vector<std::vector<std::string>>& rows);

// A table with a header row; every cell is text and is escaped.
std::string TableHtml(const std::vector<std::string>& headings,
                      const std::vector<std::vector<std::string>>& rows);

// A table of label/value rows, escaped.
std::string PairsHtml(
    const std::vector<std::pair<std::string, std::string>>& pairs);

// The last-error triple of a component as a labelled block, followed by
// SystemTextHtml.
std::string ErrorHtml(int32_t number, std::string_view source,
                      std::string_view description,
                      std::string_view system_text = {});
// The same with the number as text (a number a getter cannot return).
std::string ErrorHtml(std::string_view number, std::string_view source,
                      std::string_view description,
                      std::string_view system_text = {});

// The same for an outcome's details: "Error N from SOURCE: DESCRIPTION" as
// one paragraph, the system's text as another when there is one.
std::string ErrorDetailsHtml(std::string_view number, std::string_view source,
                             std::string_view description,
                             std::string_view system_text);

// The system's text of a component's failure (see LastSystemText) as a
// paragraph, "System: Permission denied"; empty for an empty text.
std::string SystemTextHtml(std::string_view system_text);

// A page's result: one plain sentence (HTML already) marked as a success
// or a failure, with id `id`, and, when `details` (HTML) is not empty, the
// component's numbers folded away under "Details".
std::string OutcomeHtml(bool succeeded, std::string_view sentence,
                        std::string_view details,
                        std::string_view id = "outcome");

// Every byte but ASCII letters, digits and "-._~" as %XX: for a query
// parameter or an RFC 5987 header parameter.
std::string PercentEncoded(std::string_view text);

// A preformatted block of escaped text, under a heading.
std::string TextBlockHtml(std::string_view heading, std::string_view text);

}  // namespace corvane::web

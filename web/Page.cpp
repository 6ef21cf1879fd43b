// SPDX-License-Identifier: Apache-2.0
#include "web/Page.h"

#include <httplib.h>

#include "frame/Component.h"
#include "frame/Registry.h"
#include "web/BodyStream.h"
#include "web/Html.h"

namespace corvane::web {

bool PageCall::IsPost() const { return request.method == "POST"; }

uint64_t PageCall::BodyBytes() const {
  return stream ? stream->Left() : body.size();
}

std::shared_ptr<HttpContext> PageCall::Context() {
  return stream ? HttpContext::New(request, server, *stream)
                : HttpContext::New(request, server, std::exchange(body, {}));
}

PageObject::PageObject(std::string_view progid,
                       const std::shared_ptr<ScriptingContext>& context)
    : object_(CreateObject(progid)) {
  object_->Call("OnStartPage", {Variant(context)});
}

PageObject::~PageObject() {
  try {
    object_->Call("OnEndPage");
  } catch (...) {
    // The page is finished either way; a failing release changes nothing
    // that the answer could report.
  }
}

std::string PageObject::ErrorTripleHtml() const {
  return ErrorHtml(object_->Get("GetLastErrNum").ToInt32(),
                   object_->Get("GetLastErrSource").ToText(),
                   object_->Get("GetLastErrDescription").ToText(),
                   LastSystemText(*object_));
}

std::string PageObject::ErrorDetailsHtml() const {
  return web::ErrorDetailsHtml(object_->Get("GetLastErrNum").ToText(),
                               object_->Get("GetLastErrSource").ToText(),
                               object_->Get("GetLastErrDescription").ToText(),
                               LastSystemText(*object_));
}

namespace {

// What a component wrote to the page (escaped text, each piece ended by
// "<br>") as plain text, a line per piece.
std::string WrittenText(std::string_view written) {
  constexpr std::pair<std::string_view, std::string_view> kMarkup[] = {
      {"<br>", "\n"},   {"&lt;", "<"},  {"&gt;", ">"},
      {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"},
  };
  std::string text;
  for (size_t at = 0; at < written.size();) {
    bool replaced = false;
    for (const auto& [markup, plain] : kMarkup) {
      if (written.substr(at).starts_with(markup)) {
        text += plain;
        at += markup.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) text += written[at++];
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace

std::string PageTextHtml(const MemoryContext& context) {
  if (context.Output().empty()) return {};
  return TextBlockHtml("Written to the page", WrittenText(context.Output()));
}

}  // namespace corvane::web

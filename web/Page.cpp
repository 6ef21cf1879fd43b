// SPDX-License-Identifier: Apache-2.0
#include "web/Page.h"

#include <httplib.h>

#include "frame/Registry.h"
#include "web/Html.h"

namespace corvane::web {

bool PageCall::IsPost() const { return request.method == "POST"; }

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
                   object_->Get("GetLastErrDescription").ToText());
}

std::string PageObject::ErrorDetailsHtml() const {
  return "<p>Error " + Escape(object_->Get("GetLastErrNum").ToText()) +
         " from " + Escape(object_->Get("GetLastErrSource").ToText()) + ": " +
         Escape(object_->Get("GetLastErrDescription").ToText()) + "</p>";
}

std::string PageTextHtml(const MemoryContext& context) {
  if (context.Output().empty()) return {};
  return TextBlockHtml("Written to the page", context.Output());
}

}  // namespace corvane::web

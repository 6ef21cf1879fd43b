// SPDX-License-Identifier: Apache-2.0
#include "frame/Host.h"

#include "frame/Text.h"

namespace corvane {

ClassInfo Request::Members() {
  return ClassBuilder<Request>("Request")
      .Get("TotalBytes", [](Request& r) { return r.TotalBytes(); })
      .Method("BinaryRead",
              [](Request& r, Variant& count) { return r.BinaryRead(count); })
      .Get("ServerVariables",
           [](Request& r, std::string_view name) {
             return r.ServerVariables(name);
           })
      .Get("QueryString", [](Request& r) { return r.QueryString(); })
      .Build();
}

ClassInfo Response::Members() {
  return ClassBuilder<Response>("Response")
      .Method("Write", [](Response& r, const Variant& text) { r.Write(text); })
      .Build();
}

ClassInfo ScriptingContext::Members() {
  return ClassBuilder<ScriptingContext>("ScriptingContext")
      .Get("Request", [](ScriptingContext& c) { return c.Request(); })
      .Get("Response", [](ScriptingContext& c) { return c.Response(); })
      .Build();
}

void WriteToPage(const std::shared_ptr<ScriptingContext>& context,
                 std::string_view text) {
  if (!context) return;
  try {
    auto response = context->Response();
    if (response) response->Write(EscapeHtml(text) + "<br>");
  } catch (...) {
    // A page that can no longer be written to has nobody left to read the
    // note; the component's own result still stands.
  }
}

std::shared_ptr<ScriptingContext> ContextFrom(const Variant& value) {
  auto object = value.ToObject();
  auto context = std::dynamic_pointer_cast<ScriptingContext>(object);
  if (object && !context) throw StandardFailure(kTypeMismatch);
  return context;
}

}  // namespace corvane

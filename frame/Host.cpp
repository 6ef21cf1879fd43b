#include "frame/Host.h"

namespace corvane {
namespace {

// The text with the characters that HTML reads as markup written as
// character references, so that a description can never add markup.
std::string EscapedForPage(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '&':
        escaped += "&amp;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

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
    if (response) response->Write(EscapedForPage(text) + "<br>");
  } catch (...) {
  }
}

std::shared_ptr<ScriptingContext> ContextFrom(const Variant& value) {
  auto object = value.ToObject();
  auto context = std::dynamic_pointer_cast<ScriptingContext>(object);
  if (object && !context) throw StandardFailure(kTypeMismatch);
  return context;
}

}  // namespace corvane

// SPDX-License-Identifier: Apache-2.0
// What the components require of the page host: the scripting context with
// its request and response objects, and the page-writing step. MemoryHost
// and CgiHost implement it; further hosts implement the same three classes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "frame/Dispatch.h"
#include "platform/Export.h"

namespace corvane {

class CORVANE_API Request : public DispatchClass<Request> {
 public:
  static ClassInfo Members();
  // The request body's length in bytes; 0 without a body.
  virtual int32_t TotalBytes() = 0;
  // Up to `count` bytes of the body as a byte array; `count` is written back
  // with the number delivered. Each call delivers the next bytes of the
  // body; after its end, none.
  virtual Variant BinaryRead(Variant& count) = 0;
  // A server variable's value; empty text when it is not set.
  virtual std::string ServerVariables(std::string_view name) = 0;
  // The whole query string of the page address.
  virtual std::string QueryString() = 0;
};

class CORVANE_API Response : public DispatchClass<Response> {
 public:
  static ClassInfo Members();
  // Appends the text to the page output unchanged.
  virtual void Write(const Variant& text) = 0;
};

class CORVANE_API ScriptingContext : public DispatchClass<ScriptingContext> {
 public:
  static ClassInfo Members();
  // The page's request and response objects; never nullptr for the hosts
  // of this suite.
  virtual std::shared_ptr<corvane::Request> Request() = 0;
  virtual std::shared_ptr<corvane::Response> Response() = 0;
};

// Writes `text`, with < > & and quotes escaped as HTML character references,
// and then the markup "<br>" to the page when a context is held; does
// nothing otherwise. Failures of the host are swallowed.
CORVANE_API void WriteToPage(const std::shared_ptr<ScriptingContext>& context,
                             std::string_view text);

// The scripting context held in a variant passed to OnStartPage; 13 "Type
// mismatch" when it holds another object, nullptr for empty.
CORVANE_API std::shared_ptr<ScriptingContext> ContextFrom(const Variant& value);

}  // namespace corvane

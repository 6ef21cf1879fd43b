// SPDX-License-Identifier: Apache-2.0
// The page-script interpreter behind `corvane run`: one JSON object a line
// in, one JSON line a step out, objects and pages held under names.
#pragma once

#include <istream>
#include <map>
#include <ostream>
#include <string>

#include "frame/Dispatch.h"
#include "tools/corvane/JsonValues.h"

namespace corvane::tool {

class ScriptHost {
 public:
  explicit ScriptHost(std::ostream& out) : out_(out) {}

  // Runs every line of the script. Returns 0, or 2 after writing a message
  // naming the line to `errors` when a line is malformed.
  int Run(std::istream& script, std::ostream& errors);

  // One line of a script as JSON. Throws Json::exception for text that is
  // not JSON and MalformedLine for nesting deeper than a few hundred levels.
  static Json ParseLine(const std::string& line);
  // Runs one step and answers it on the output; a failure that the step
  // raises becomes an "error" answer. Throws MalformedLine.
  void RunStep(const Json& step);

 private:
  Json Create(const Json& step);
  Json Page(const Json& step);
  Json Get(const Json& step);
  Json Call(const Json& step);
  Json Put(const Json& step);
  Json Items(const Json& step);
  Json Output(const Json& step);
  Json Release(const Json& step);

  Variant Held(const std::string& name) const;
  Variant::Object HeldObject(const std::string& name) const;
  Arguments ArgumentsOf(const Json& step) const;
  Variant ValueOf(const Json& value) const;
  void Hold(const Json& step, const Variant& value);

  std::ostream& out_;
  std::map<std::string, Variant> held_;
};

}  // namespace corvane::tool

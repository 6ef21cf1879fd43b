// SPDX-License-Identifier: Apache-2.0
// corvane run [FILE|-]: runs a page script of JSON lines.
#include <cerrno>
#include <fstream>
#include <iostream>

#include "tools/corvane/Command.h"
#include "tools/corvane/ScriptHost.h"

namespace corvane::tool {
namespace {

int RunScript(const std::string& path) {
  ScriptHost host(std::cout);
  if (path == "-") return host.Run(std::cin, std::cerr);
  errno = 0;
  std::ifstream script(path);
  if (!script) {
    std::cerr << "corvane run: " << FileProblem(path, errno ? errno : ENOENT)
              << "\n";
    return kFailedStatus;
  }
  return host.Run(script, std::cerr);
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto* command = app.add_subcommand(
      "run", "Run a page script (JSON Lines) against the components");
  command->footer(
      R"(Each line of the script is one step, a JSON object; each step is
answered by one JSON line on standard output:
  {"create": PROGID, "as": NAME}         create an object  -> {"ok": true}
  {"page": NAME, "request": {...}}       make a page (request fields:
      body, body_base64, body_file, content_type, query, server_variables)
  {"get": MEMBER, "on": NAME, "args": [...], "as": NAME}   -> {"value": V}
  {"call": MEMBER, "on": NAME, "args": [...], "as": NAME}
                                 -> {"value": V, "byref": [...]}
  {"put": MEMBER, "on": NAME, "value": V}                  -> {"ok": true}
  {"items": NAME, "fields": [MEMBER, ...]}                 -> {"value": [...]}
  {"output": NAME}       what the page received so far     -> {"value": TEXT}
  {"release": NAME}                                        -> {"ok": true}
Values: a string is text, an integer a 32-bit integer, true/false a
Boolean, null empty; {"bytes_base64": ...} bytes, {"text_base64": ...} text
that is not UTF-8, {"ref": NAME} an object or page held under NAME.
A failed member answers {"error": {"number": N, "source": S,
"description": D}} and the script goes on. Blank lines and lines starting
with # are skipped. A malformed line stops the run with status 2.

Example:
  printf '%s
' '{"create": "Corvane.Vantry", "as": "v"}'     '{"call": "IsDirExists", "on": "v", "args": ["/tmp"]}' | corvane run -)");
  auto path = std::make_shared<std::string>("-");
  command->add_option("file", *path, "The script; - for standard input");
  command->callback([path, &exit_status] { exit_status = RunScript(*path); });
});

}  // namespace
}  // namespace corvane::tool

// SPDX-License-Identifier: Apache-2.0
// corvane run [FILE|-]: runs a page script of JSON lines.
#include <fstream>
#include <iostream>

#include "tools/corvane/Command.h"
#include "tools/corvane/ScriptHost.h"

namespace corvane::tool {
namespace {

int RunScript(const std::string& path) {
  ScriptHost host(std::cout);
  if (path == "-") return host.Run(std::cin, std::cerr);
  std::ifstream script(path);
  if (!script) {
    std::cerr << "corvane run: cannot open " << path << "\n";
    return 2;
  }
  return host.Run(script, std::cerr);
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto* command = app.add_subcommand(
      "run", "Run a page script (JSON Lines) against the components");
  auto path = std::make_shared<std::string>("-");
  command->add_option("file", *path, "The script; - for standard input");
  command->callback([path, &exit_status] { exit_status = RunScript(*path); });
});

}  // namespace
}  // namespace corvane::tool

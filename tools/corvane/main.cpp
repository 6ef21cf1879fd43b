// SPDX-License-Identifier: Apache-2.0
// corvane: the suite's command-line program. It hosts page scripts against
// the registered components and offers one command per component.
#include <exception>
#include <iostream>
#include <string>

#include "tools/corvane/Command.h"

namespace corvane::tool {

std::vector<AddCommand>& Commands() {
  static std::vector<AddCommand> commands;
  return commands;
}

}  // namespace corvane::tool

int main(int argc, char** argv) {
  CLI::App app("corvane: drives the Corvane components from the command line",
               "corvane");
  app.set_version_flag("--version", std::string("corvane ") + CORVANE_VERSION);
  app.require_subcommand(1);
  int exit_status = 0;
  for (const auto& add : corvane::tool::Commands()) add(app, exit_status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return app.exit(error);
  } catch (const std::exception& error) {
    std::cerr << "corvane: " << error.what() << "\n";
    return 1;
  }
  return exit_status;
}

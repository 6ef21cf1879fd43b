// SPDX-License-Identifier: Apache-2.0
// corvane: the suite's command-line program. It hosts page scripts against
// the registered components and offers one command per component.
//
// Exit status: 0 when the work was done, 1 when it failed (the message names
// the thing and the reason), 2 for a command line that cannot be used.
#include <exception>
#include <iostream>
#include <string>

#include "platform/Process.h"
#include "tools/corvane/Command.h"

namespace corvane::tool {

std::vector<AddCommand>& Commands() {
  static std::vector<AddCommand> commands;
  return commands;
}

namespace {

// The names of the subcommands, comma-separated, for a usage message.
std::string SubcommandNames(const CLI::App& app) {
  std::string names;
  for (const auto* command : app.get_subcommands({})) {
    if (!names.empty()) names += ", ";
    names += command->get_name();
  }
  return names;
}

// A usage error: the message, where to read more, status 2.
int UsageError(const std::string& message, const std::string& help) {
  std::cerr << "corvane: " << message << "\n"
            << "Try '" << help << " --help' for more information.\n";
  return kUsageStatus;
}

// The program's work; its exit status.
int Run(int argc, char** argv) {
  CLI::App app("corvane: drives the Corvane components from the command line",
               "corvane");
  app.set_version_flag("--version", std::string("corvane ") + CORVANE_VERSION);
  app.footer(
      "Run 'corvane SUBCOMMAND --help' for a subcommand's options and an "
      "example.\nExit status: 0 done, 1 failed, 2 wrong usage.");
  int exit_status = 0;
  for (const auto& add : Commands()) add(app, exit_status);
  if (argc < 2) {
    return UsageError("a subcommand is required: " + SubcommandNames(app),
                      "corvane");
  }
  std::string first = argv[1];
  if (first.empty() || first[0] != '-') {
    bool known = false;
    for (const auto* command : app.get_subcommands({})) {
      known = known || command->check_name(first);
    }
    if (!known) return UsageError("unknown subcommand: " + first, "corvane");
  }
  app.require_subcommand(1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForAllHelp& help) {
    return app.exit(help);
  } catch (const CLI::CallForVersion& version) {
    return app.exit(version);
  } catch (const CLI::ParseError& error) {
    // The innermost subcommand named on the line, for its --help.
    std::string help = "corvane";
    for (const CLI::App* command = &app;;) {
      auto chosen = command->get_subcommands();
      if (chosen.empty()) break;
      command = chosen.front();
      help += " " + command->get_name();
    }
    return UsageError(error.what(), help);
  } catch (const std::exception& error) {
    std::cerr << "corvane: " << error.what() << "\n";
    return 1;
  }
  return exit_status;
}

}  // namespace
}  // namespace corvane::tool

// Every exception is caught below; the check cannot see through CLI11.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  corvane::platform::KeepStandardDescriptors();
  try {
    return corvane::tool::Run(argc, argv);
  } catch (...) {
    return 1;  // Run reports every failure it can; this one cannot be told
  }
}

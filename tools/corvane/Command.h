// SPDX-License-Identifier: Apache-2.0
// Subcommands of the corvane program. Each *Command.cpp file registers one
// with a static CommandRegistration; main() adds them all.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <vector>

namespace corvane::tool {

// Adds a subcommand to the application; its callback sets `exit_status`.
using AddCommand = std::function<void(CLI::App& app, int& exit_status)>;

std::vector<AddCommand>& Commands();

struct CommandRegistration {
  explicit CommandRegistration(AddCommand add) {
    Commands().push_back(std::move(add));
  }
};

}  // namespace corvane::tool

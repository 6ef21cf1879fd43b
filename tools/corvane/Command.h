// SPDX-License-Identifier: Apache-2.0
// Subcommands of the corvane program. Each *Command.cpp file registers one
// with a static CommandRegistration; main() adds them all.
#pragma once

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace corvane::tool {

// Exit statuses of every subcommand: the work was done, it failed (with a
// message naming the thing and the reason), the command line was unusable.
inline constexpr int kDoneStatus = 0;
inline constexpr int kFailedStatus = 1;
inline constexpr int kUsageStatus = 2;

// What went wrong with a file, for a message: "no such file: a.txt",
// "permission denied: a.txt", "is a directory: a", or the system's text for
// another errno value. Cannot fail.
inline std::string FileProblem(const std::string& path, int number) {
  switch (number) {
    case ENOENT:
      return "no such file: " + path;
    case EACCES:
    case EPERM:
      return "permission denied: " + path;
    case EISDIR:
      return "is a directory: " + path;
    case ENOTDIR:
      return "not a directory: " + path;
    default:
      return std::string(std::strerror(number)) + ": " + path;
  }
}

// The line "system: TEXT" that follows the report of a failure carrying the
// system's text (see LastSystemText); nothing for one without. Cannot fail.
inline std::string SystemTextLine(const std::string& system_text) {
  return system_text.empty() ? std::string() : "system: " + system_text + "\n";
}

// Adds a subcommand to the application; its callback sets `exit_status`.
using AddCommand = std::function<void(CLI::App& app, int& exit_status)>;

std::vector<AddCommand>& Commands();

struct CommandRegistration {
  explicit CommandRegistration(AddCommand add) {
    Commands().push_back(std::move(add));
  }
};

}  // namespace corvane::tool

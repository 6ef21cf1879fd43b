// SPDX-License-Identifier: Apache-2.0
// Running a program the way a web server runs a CGI program: its
// environment given whole, the request body on its standard input, its
// answer read from its standard output.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

struct ProgramRun {
  int exit_status = -1;  // -1 when a signal ended it
  std::string output;
};

// Runs `program` with exactly `environment` ("NAME=value" each), writes
// `input` to its standard input and closes it, and collects its standard
// output up to `max_output` bytes (the rest is read and dropped). Standard
// error is the caller's. Throws Failure when the program cannot be started.
ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& environment,
                      std::string_view input, size_t max_output);

}  // namespace corvane::platform

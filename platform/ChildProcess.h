// SPDX-License-Identifier: Apache-2.0
// Running a program the way a web server runs a CGI program: its
// environment given whole, the request body on its standard input, its
// answer read from its standard output.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Export.h"

namespace corvane::platform {

struct CORVANE_API ProgramRun {
  int exit_status = -1;  // -1 when a signal ended it
  std::string output;
  // The program was still running at the deadline and was killed.
  bool timed_out = false;
};

// Where a program's standard input comes from, a piece at a time: up to
// `size` bytes into `data`, waiting for them if need be; 0 at the end.
using ProgramInput = std::function<size_t(char* data, size_t size)>;

// Runs `program` with exactly `environment` ("NAME=value" each), writes
// `input` to its standard input while collecting its standard output, up to
// `max_output` bytes (the rest is read and dropped), and closes its input
// once written. A program that stops reading early (closes its input or
// exits) gets no more of it; that is no failure. Standard error is the
// caller's. With `timeout_ms` above 0 the program is killed when it has not
// finished that long after it last took input (`timed_out` set, the output
// so far kept). SIGPIPE never reaches the calling process. Throws Failure
// when the program cannot be started.
CORVANE_API ProgramRun RunProgram(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  std::string_view input, size_t max_output,
                                  int timeout_ms = 0);

// The same with the input taken from `input` piece by piece as the program
// reads it, so that no more than a piece is held; the time limit also
// starts again with each piece `input` gives. When `input` throws, the
// program is killed and reaped, its pipes are closed, and the exception
// leaves the call.
CORVANE_API ProgramRun RunProgram(const std::string& program,
                                  const std::vector<std::string>& environment,
                                  const ProgramInput& input, size_t max_output,
                                  int timeout_ms = 0);

}  // namespace corvane::platform

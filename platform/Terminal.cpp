// SPDX-License-Identifier: Apache-2.0
#include "platform/Terminal.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

std::optional<std::string> ReadSecretLine(std::string_view prompt) {
  termios saved{};
  bool hidden = false;
  if (InputIsTerminal() && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
    std::cerr << prompt << std::flush;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    hidden = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  std::string line;
  bool any = false;
  char c = 0;
  ssize_t got = 0;
  while ((got = RetryOnInterrupt(
              [&] { return ::read(STDIN_FILENO, &c, 1); })) != 0) {
    if (got < 0) {
      int error = errno;
      if (hidden) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
      Failure failure(ErrorNumberFromErrno(error), "",
                      "cannot read standard input");
      failure.system_text = SystemErrorText(error);
      throw failure;
    }
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (hidden) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void KeepNewFilesPrivate() { ::umask(077); }

}  // namespace corvane::platform

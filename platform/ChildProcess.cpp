// SPDX-License-Identifier: Apache-2.0
#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Failure.h"

namespace corvane::platform {
namespace {

// Both ends close on exec, so that programs started at the same time by
// other threads do not hold them open.
void OpenPipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw StandardFailure(ErrorNumberFromErrno(errno));
  }
}

void CloseOnce(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

pid_t Spawn(const std::string& program,
            const std::vector<std::string>& environment, int input,
            int output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input, 0);
  posix_spawn_file_actions_adddup2(&actions, output, 1);
  std::vector<char*> variables;
  for (const auto& entry : environment) {
    variables.push_back(const_cast<char*>(entry.c_str()));
  }
  variables.push_back(nullptr);
  char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
  pid_t pid = -1;
  int result = ::posix_spawn(&pid, program.c_str(), &actions, nullptr,
                             arguments, variables.data());
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) throw StandardFailure(ErrorNumberFromErrno(result));
  return pid;
}

// Feeds the input and drains the output together, so that neither side
// waits on a full pipe.
void Exchange(int to_child, int from_child, std::string_view input,
              size_t max_output, std::string& output) {
  size_t written = 0;
  if (input.empty()) CloseOnce(to_child);
  char buffer[65536];
  while (from_child >= 0) {
    pollfd fds[2] = {{from_child, POLLIN, 0}, {to_child, POLLOUT, 0}};
    int count = to_child >= 0 ? 2 : 1;
    if (::poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (count == 2 && fds[1].revents) {
      ssize_t n = ::write(to_child, input.data() + written,
                          std::min<size_t>(input.size() - written, 65536));
      if (n > 0) written += static_cast<size_t>(n);
      // A program that stops reading early gets no more of the body.
      if (n < 0 && errno != EINTR && errno != EAGAIN) written = input.size();
      if (written == input.size()) CloseOnce(to_child);
    }
    if (fds[0].revents) {
      ssize_t n = ::read(from_child, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      size_t room = max_output - std::min(max_output, output.size());
      output.append(buffer, std::min(room, static_cast<size_t>(n)));
    }
  }
  CloseOnce(to_child);
}

}  // namespace

ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& environment,
                      std::string_view input, size_t max_output) {
  int in[2], out[2];
  OpenPipe(in);
  try {
    OpenPipe(out);
  } catch (...) {
    ::close(in[0]);
    ::close(in[1]);
    throw;
  }
  pid_t pid = -1;
  try {
    pid = Spawn(program, environment, in[0], out[1]);
  } catch (...) {
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    throw;
  }
  ::close(in[0]);
  ::close(out[1]);
  ProgramRun run;
  Exchange(in[1], out[0], input, max_output, run.output);
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace corvane::platform

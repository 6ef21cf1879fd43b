// SPDX-License-Identifier: Apache-2.0
#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

// Both ends close on exec, so that programs started at the same time by
// other threads do not hold them open.
void OpenPipe(int ends[2]) {
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    throw FailureFromErrno(errno);
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
  if (result != 0) throw FailureFromErrno(result);
  return pid;
}

// Blocks SIGPIPE in the calling thread while it lives, so that a write to a
// pipe whose reader has gone fails with EPIPE instead of ending the process;
// a SIGPIPE that such a write raised is taken back before the mask returns.
class QuietPipes {
 public:
  QuietPipes() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
  }
  ~QuietPipes() {
    if (raised_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE)) {
        timespec none{0, 0};
        RetryOnInterrupt([&] { return sigtimedwait(&pipe_, nullptr, &none); });
      }
    }
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  QuietPipes(const QuietPipes&) = delete;
  QuietPipes& operator=(const QuietPipes&) = delete;
  // A write failed with EPIPE; its signal is pending.
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_;
  sigset_t previous_;
  bool raised_ = false;
};

// poll's timeout for what is left of `deadline`: -1 without a limit, 0 when
// it has passed.
int PollTimeout(const Deadline& deadline) {
  int left = deadline.Left();
  if (left == 0) return -1;
  return left < 0 ? 0 : left;
}

bool Expired(const Deadline& deadline) { return deadline.Left() < 0; }

// Feeds the input and drains the output together, so that neither side
// waits on a full pipe: the input end does not block, and only what the
// pipe takes is written at a time. The deadline starts again whenever the
// input moves. False when it passed first.
bool Exchange(int to_child, int from_child, const ProgramInput& input,
              size_t max_output, int timeout_ms, Deadline& deadline,
              std::string& output) {
  QuietPipes quiet;
  std::vector<char> pending(65536);
  size_t start = 0;
  size_t end = 0;
  // The next piece of the input; false at its end.
  auto refill = [&] {
    start = 0;
    end = input(pending.data(), pending.size());
    deadline = Deadline(timeout_ms);
    return end > 0;
  };
  if (!refill()) CloseOnce(to_child);
  char buffer[65536];
  bool in_time = true;
  while (from_child >= 0) {
    if (Expired(deadline)) {
      in_time = false;
      break;
    }
    pollfd fds[2] = {{from_child, POLLIN, 0}, {to_child, POLLOUT, 0}};
    int count = to_child >= 0 ? 2 : 1;
    int ready = RetryOnInterrupt(
        [&] { return ::poll(fds, count, PollTimeout(deadline)); });
    if (ready < 0) break;
    if (ready == 0) continue;  // the deadline is checked above
    if (count == 2 && fds[1].revents) {
      ssize_t n = RetryOnInterrupt([&] {
        return ::write(to_child, pending.data() + start, end - start);
      });
      if (n > 0) {
        start += static_cast<size_t>(n);
        deadline = Deadline(timeout_ms);
      }
      if (n < 0 && errno == EPIPE) quiet.Raised();
      // A program that stops reading early gets no more of the body; the
      // end of the input closes the pipe.
      bool stopped = n < 0 && errno != EAGAIN;
      if (stopped || (start == end && !refill())) CloseOnce(to_child);
    }
    if (fds[0].revents) {
      ssize_t n = RetryOnInterrupt(
          [&] { return ::read(from_child, buffer, sizeof buffer); });
      if (n < 0 && errno == EAGAIN) continue;
      if (n <= 0) break;
      size_t room = max_output - std::min(max_output, output.size());
      output.append(buffer, std::min(room, static_cast<size_t>(n)));
    }
  }
  CloseOnce(to_child);
  return in_time;
}

// The program's exit status once it has ended; it is killed when the
// deadline passes first (`killed` set).
int Reap(pid_t pid, const Deadline& deadline, bool& killed) {
  int status = 0;
  for (;;) {
    pid_t done = RetryOnInterrupt(
        [&] { return ::waitpid(pid, &status, killed ? 0 : WNOHANG); });
    if (done == pid) break;
    if (done < 0) return -1;
    if (done == 0) {
      if (Expired(deadline)) {
        ::kill(pid, SIGKILL);
        killed = true;
      } else {
        ::usleep(5000);
      }
    }
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& environment,
                      std::string_view input, size_t max_output,
                      int timeout_ms) {
  return RunProgram(
      program, environment,
      [&input](char* data, size_t size) {
        size_t count = std::min(size, input.size());
        std::memcpy(data, input.data(), count);
        input.remove_prefix(count);
        return count;
      },
      max_output, timeout_ms);
}

ProgramRun RunProgram(const std::string& program,
                      const std::vector<std::string>& environment,
                      const ProgramInput& input, size_t max_output,
                      int timeout_ms) {
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
  // Only this end is ours; the program's end stays as programs expect it.
  ::fcntl(in[1], F_SETFL, ::fcntl(in[1], F_GETFL) | O_NONBLOCK);
  Deadline deadline(timeout_ms);
  ProgramRun run;
  bool killed = false;
  if (!Exchange(in[1], out[0], input, max_output, timeout_ms, deadline,
                run.output)) {
    ::kill(pid, SIGKILL);
    killed = true;
  }
  ::close(out[0]);
  run.exit_status = Reap(pid, deadline, killed);
  run.timed_out = killed;
  return run;
}

}  // namespace corvane::platform

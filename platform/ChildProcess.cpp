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
#include "platform/Descriptor.h"
#include "platform/Failure.h"
#include "platform/Retry.h"

namespace corvane::platform {
namespace {

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
bool Exchange(Descriptor& to_child, int from_child, const ProgramInput& input,
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
  if (!refill()) to_child.Reset();
  char buffer[65536];
  bool in_time = true;
  for (;;) {
    if (Expired(deadline)) {
      in_time = false;
      break;
    }
    pollfd fds[2] = {{from_child, POLLIN, 0}, {to_child.Get(), POLLOUT, 0}};
    int count = to_child.Get() >= 0 ? 2 : 1;
    int ready = RetryOnInterrupt(
        [&] { return ::poll(fds, count, PollTimeout(deadline)); });
    if (ready < 0) break;
    if (ready == 0) continue;  // the deadline is checked above
    if (count == 2 && fds[1].revents) {
      ssize_t n = RetryOnInterrupt([&] {
        return ::write(to_child.Get(), pending.data() + start, end - start);
      });
      if (n > 0) {
        start += static_cast<size_t>(n);
        deadline = Deadline(timeout_ms);
      }
      if (n < 0 && errno == EPIPE) quiet.Raised();
      // A program that stops reading early gets no more of the body; the
      // end of the input closes the pipe.
      bool stopped = n < 0 && errno != EAGAIN;
      if (stopped || (start == end && !refill())) to_child.Reset();
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
  to_child.Reset();
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
  // Both pipes close on exec, so that programs started at the same time by
  // other threads do not hold them open.
  Pipe in = OpenPipe(O_CLOEXEC);
  Pipe out = OpenPipe(O_CLOEXEC);
  pid_t pid =
      Spawn(program, environment, in.read_end.Get(), out.write_end.Get());
  in.read_end.Reset();
  out.write_end.Reset();
  // Only this end is ours; the program's end stays as programs expect it.
  int to_child = in.write_end.Get();
  ::fcntl(to_child, F_SETFL, ::fcntl(to_child, F_GETFL) | O_NONBLOCK);
  Deadline deadline(timeout_ms);
  ProgramRun run;
  bool killed = false;
  bool in_time = false;
  try {
    in_time = Exchange(in.write_end, out.read_end.Get(), input, max_output,
                       timeout_ms, deadline, run.output);
  } catch (...) {
    // The input (or the memory for the output) failed: the program is
    // ended and reaped, so that it neither runs on unattended nor stays
    // behind as a zombie.
    ::kill(pid, SIGKILL);
    RetryOnInterrupt([&] { return ::waitpid(pid, nullptr, 0); });
    throw;
  }
  if (!in_time) {
    ::kill(pid, SIGKILL);
    killed = true;
  }
  out.read_end.Reset();
  run.exit_status = Reap(pid, deadline, killed);
  run.timed_out = killed;
  return run;
}

}  // namespace corvane::platform

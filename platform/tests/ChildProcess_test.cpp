// SPDX-License-Identifier: Apache-2.0
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <thread>

#include "platform/tests/Deadline.h"

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// What a run gave, checked in a child process within a limit (a run that
// hangs or a SIGPIPE that ends the process fails the test instead of
// stopping the suite): 0 when it matches, else which part does not (1 the
// deadline, 2 the exit status, 3 the output); nullopt when it did not end.
std::optional<int> RunMatches(std::chrono::seconds limit,
                              const std::string& program,
                              const std::string& input, int timeout_ms,
                              bool timed_out, int exit_status,
                              const std::string& output) {
  return testing::ResultWithin(limit, [&] {
    auto run =
        RunProgram(program, {"PATH=/usr/bin:/bin"}, input, 1 << 30, timeout_ms);
    if (run.timed_out != timed_out) return 1;
    if (run.exit_status != exit_status) return 2;
    return run.output == output ? 0 : 3;
  });
}

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvane-child-XXXXXX";
    scratch_ = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(scratch_); }

  std::string Script(const std::string& name, const std::string& text) {
    std::string path = scratch_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << text << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }

  std::string scratch_;
};

// Far more than a pipe holds in either direction.
const std::string kLargeInput = [] {
  std::string text(8 << 20, '\0');
  for (size_t n = 0; n < text.size(); ++n) text[n] = static_cast<char>(n * 7);
  return text;
}();

TEST_F(ChildProcessTest, AProgramThatAnswersWhileItReadsGetsItsWholeInput) {
  EXPECT_EQ(
      RunMatches(60s, "/bin/cat", kLargeInput, 50000, false, 0, kLargeInput),
      0);
}

TEST_F(ChildProcessTest, AProgramThatStopsReadingEndsTheExchangeCleanly) {
  // The writes after the program has gone would raise SIGPIPE.
  EXPECT_EQ(RunMatches(60s, Script("early", "echo answered; exit 3"),
                       kLargeInput, 50000, false, 3, "answered\n"),
            0);
  // A program that closes its input but goes on answering is read to the end.
  EXPECT_EQ(
      RunMatches(60s, Script("closes", "exec 0<&-; sleep 0.2; echo later"),
                 kLargeInput, 50000, false, 0, "later\n"),
      0);
}

TEST_F(ChildProcessTest, InputTakenPieceByPieceReachesTheProgramWhole) {
  auto pieces = [](size_t& given, size_t each) {
    return [&given, each](char* data, size_t size) {
      size_t count = std::min({size, each, kLargeInput.size() - given});
      std::memcpy(data, kLargeInput.data() + given, count);
      given += count;
      return count;
    };
  };
  size_t given = 0;
  auto whole = testing::ResultWithin(60s, [&] {
    auto run = RunProgram("/bin/cat", {"PATH=/usr/bin:/bin"},
                          pieces(given, 10000), 1 << 30, 50000);
    return run.output == kLargeInput && run.exit_status == 0 ? 0 : 1;
  });
  EXPECT_EQ(whole, 0);
  // A program that stops reading is asked for no more of it.
  given = 0;
  auto early = testing::ResultWithin(60s, [&] {
    auto run = RunProgram(Script("early", "echo answered; exit 3"),
                          {"PATH=/usr/bin:/bin"}, pieces(given, 65536), 1 << 30,
                          50000);
    return run.output == "answered\n" && given < kLargeInput.size() ? 0 : 1;
  });
  EXPECT_EQ(early, 0);
}

TEST_F(ChildProcessTest, AProgramStillRunningAtTheDeadlineIsKilled) {
  // Silent with its output open, and with its output closed; the output
  // so far is kept.
  EXPECT_EQ(RunMatches(10s, Script("slow", "echo partial; exec sleep 60"),
                       kLargeInput, 300, true, -1, "partial\n"),
            0);
  EXPECT_EQ(RunMatches(10s, Script("mute", "exec 1>&-; exec sleep 60"),
                       kLargeInput, 300, true, -1, ""),
            0);
}

// The descriptors the process has open.
size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

TEST_F(ChildProcessTest, AnInputThatThrowsLeavesNoPipeOpenAndNoProgramBehind) {
  // The program says who it is, then reads; the input gives one piece and
  // then fails, as a body whose sender goes away does.
  std::string pid_file = scratch_ + "/pid";
  std::string program =
      Script("reader", "echo $$ > " + pid_file + "; exec cat");
  auto result = testing::ResultWithin(60s, [&] {
    size_t before = OpenDescriptors();
    pid_t pid = 0;
    int calls = 0;
    auto input = [&](char* data, size_t) -> size_t {
      if (++calls > 1) throw std::runtime_error("the sender went away");
      for (int wait = 0; wait < 500 && pid <= 0; ++wait) {
        std::ifstream(pid_file) >> pid;
        if (pid <= 0) std::this_thread::sleep_for(10ms);
      }
      data[0] = 'x';
      return 1;
    };
    try {
      RunProgram(program, {"PATH=/usr/bin:/bin"}, input, 1 << 20, 50000);
      return 1;
    } catch (const std::runtime_error&) {
    }
    if (OpenDescriptors() != before) return 2;
    // Reaped: not even a zombie answers.
    if (pid <= 0 || ::kill(pid, 0) == 0) return 3;
    return 0;
  });
  EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <thread>

namespace corvane::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Each run gets its own thread and a limit of its own: a run that hangs
// fails the test instead of stopping the suite (the thread is left behind).
std::optional<ProgramRun> RunWithin(std::chrono::seconds limit,
                                    std::string program, std::string input,
                                    int timeout_ms) {
  auto promise = std::make_shared<std::promise<ProgramRun>>();
  auto future = promise->get_future();
  std::thread([promise, program, input, timeout_ms] {
    promise->set_value(RunProgram(program, {"PATH=/usr/bin:/bin"}, input,
                                  1 << 30, timeout_ms));
  }).detach();
  if (future.wait_for(limit) != std::future_status::ready) return std::nullopt;
  return future.get();
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
  auto run = RunWithin(60s, "/bin/cat", kLargeInput, 50000);
  ASSERT_TRUE(run) << "the exchange with cat did not end";
  EXPECT_FALSE(run->timed_out);
  EXPECT_EQ(run->exit_status, 0);
  EXPECT_TRUE(run->output == kLargeInput) << run->output.size();
}

TEST_F(ChildProcessTest, AProgramThatReadsNothingEndsTheExchangeCleanly) {
  // Without SIGPIPE held back, the write after the program has gone would
  // end this test program.
  auto run = RunWithin(60s, Script("early", "echo answered; exit 3"),
                       kLargeInput, 50000);
  ASSERT_TRUE(run) << "the exchange did not end";
  EXPECT_FALSE(run->timed_out);
  EXPECT_EQ(run->exit_status, 3);
  EXPECT_EQ(run->output, "answered\n");
  // A program that closes its input but goes on answering is read to the end.
  run = RunWithin(60s, Script("closes", "exec 0<&-; sleep 0.2; echo later"),
                  kLargeInput, 50000);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->exit_status, 0);
  EXPECT_EQ(run->output, "later\n");
}

TEST_F(ChildProcessTest, AProgramStillRunningAtTheDeadlineIsKilled) {
  for (const char* body :
       {"echo partial; exec sleep 60", "exec 1>&-; exec sleep 60"}) {
    SCOPED_TRACE(body);
    auto started = std::chrono::steady_clock::now();
    auto run = RunWithin(30s, Script("slow", body), kLargeInput, 300);
    ASSERT_TRUE(run) << "the deadline was not kept";
    EXPECT_TRUE(run->timed_out);
    EXPECT_EQ(run->exit_status, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
  }
}

}  // namespace
}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "web/ConsoleServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>

namespace corvane::web {
namespace {

// A console bound to a free loopback port over an empty data directory.
std::unique_ptr<ConsoleServer> BoundConsole(const std::string& data) {
  ConsoleSettings settings;
  settings.port = 0;
  settings.data_directory = data;
  auto console = std::make_unique<ConsoleServer>(std::move(settings),
                                                 [](std::string_view) {});
  console->Bind();
  return console;
}

// Whether Run returned within 10 s of a Stop made before it (`first`) or
// while it starts; a lost stop is mended by a second one, so that the test
// fails rather than hangs.
bool StopEndsRun(ConsoleServer& console, bool first) {
  if (first) console.Stop();
  auto run = std::async(std::launch::async, [&] { return console.Run(); });
  if (!first) console.Stop();
  bool ended =
      run.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!ended) console.Stop();
  return ended && run.get();
}

// A stop signal can come before the server's loop runs, or while it
// starts: either way Run returns.
TEST(ConsoleServerTest, AStopBeforeRunOrWhileItStartsEndsIt) {
  char pattern[] = "/tmp/corvane-console-XXXXXX";
  const std::string data = mkdtemp(pattern);
  EXPECT_TRUE(StopEndsRun(*BoundConsole(data), true));
  for (int n = 0; n < 40; ++n) {
    ASSERT_TRUE(StopEndsRun(*BoundConsole(data), false)) << "attempt " << n;
  }
  std::filesystem::remove_all(data);
}

}  // namespace
}  // namespace corvane::web

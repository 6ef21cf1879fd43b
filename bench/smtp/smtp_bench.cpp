// SendMail to a local SMTP server: one object, one connection and one
// message of a 1 KiB body per iteration. The server's address comes from
// $SMTP_BENCH_SERVER (host:port).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "frame/Registry.h"

namespace {

void SendMailOneKiB(benchmark::State& state) {
  const char* server = std::getenv("SMTP_BENCH_SERVER");
  if (server == nullptr) {
    state.SkipWithError("SMTP_BENCH_SERVER is not set");
    return;
  }
  // Sixteen lines of 62 characters and their line ends: 1 KiB.
  const std::string line(62, 'b');
  for (auto _ : state) {
    auto mail = corvane::CreateObject("Corvane.SMTP");
    mail->Put("SMTP", server);
    mail->Put("MailFrom", "Bench Sender <bench@example.org>");
    mail->Put("MailTo", "Reader <reader@example.org>");
    mail->Put("MailSubject", "Benchmark message");
    for (int i = 0; i < 16; ++i) mail->Put("MailContent", line);
    if (!mail->Call("SendMail").ToBool()) {
      state.SkipWithError(mail->Get("GetLastErrDescription").ToText().c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SendMailOneKiB)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(3.0)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

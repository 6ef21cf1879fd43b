// SPDX-License-Identifier: Apache-2.0
// The console's web server: cpp-httplib on a thread pool, the refusals of
// RequestGuard, the access checks, one log line per request and the pages,
// each request served with a scripting context of its own; over HTTPS when
// the settings name a certificate.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "web/ConsoleSettings.h"

namespace corvane::web {

class ConsoleServer {
 public:
  // Takes one whole log line, from any worker at once: it keeps each line
  // whole without holding the workers up (one write(2) of standard error
  // does). A failure it throws is ignored.
  using LogLine = std::function<void(std::string_view line)>;

  // `log` receives one line per request.
  ConsoleServer(ConsoleSettings settings, LogLine log);
  ~ConsoleServer();
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // Binds the listening socket (port 0: any free port). Throws Failure
  // whose description says why when it cannot, or when the certificate,
  // its key or the users file cannot be used.
  void Bind();
  // The bound port; 0 before Bind.
  int Port() const;
  // Serves until Stop; the requests in flight finish before it returns.
  // True at once when Stop came first; false when the server could not
  // serve at all.
  [[nodiscard]] bool Run();
  // Stops accepting; safe from any thread, before Run and while Run starts.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::web

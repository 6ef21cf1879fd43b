// SPDX-License-Identifier: Apache-2.0
// corvane serve: the browser console, an embedded web server whose pages
// use every component as a page script would. It listens on loopback unless
// told otherwise and stops cleanly on SIGINT or SIGTERM.
#include <filesystem>
#include <iostream>
#include <thread>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/Sockets.h"
#include "tools/corvane/Command.h"
#include "web/ConsoleServer.h"
#include "web/GatewayPage.h"

namespace corvane::tool {
namespace {

struct ServeOptions {
  std::string listen = "127.0.0.1:8080";
  std::string data = "./var";
  std::string smtp = "localhost:25";
  std::string whois;
  std::string rdap;
  uint64_t max_body = 256ull * 1024 * 1024;
  // Workers mostly wait (on clients' bodies, on the disk), so there are
  // more of them than cores.
  size_t threads = std::max(4u, 2 * std::thread::hardware_concurrency());
  std::optional<std::string> upload_extensions;
  std::vector<std::string> origins;
  std::vector<std::string> hosts;
};

// Removes the console's private folder when the command ends.
struct PrivateFolder {
  std::string path;
  ~PrivateFolder() { Remove(); }
  void Remove() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
    path.clear();
  }
};

// The names a browser on the network reaches the machine by: the host
// name, short and qualified.
std::vector<std::string> MachineNames() {
  std::vector<std::string> names;
  auto& network = platform::Network();
  for (const auto& name : {network.HostName(), network.QualifiedHostName()}) {
    if (name && !name->empty()) names.push_back(*name);
  }
  return names;
}

// "HOST:PORT" or "[IPV6]:PORT"; false when the text is neither.
[[nodiscard]] bool SplitListen(const std::string& text, std::string& host,
                               int& port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  try {
    size_t used = 0;
    port = std::stoi(text.substr(colon + 1), &used);
    return used == text.size() - colon - 1 && port >= 0 && port <= 65535;
  } catch (const std::exception&) {
    return false;
  }
}

// The data directory with its uploads/ and gateway/ folders, made when
// missing; throws Failure when one cannot be made.
void PrepareDataDirectory(const web::ConsoleSettings& settings) {
  auto& files = platform::Files();
  for (const auto& folder :
       {settings.data_directory, settings.UploadDirectory(),
        settings.GatewayDirectory()}) {
    if (!files.Stat(folder)) files.CreateDirectory(folder);
  }
}

int Serve(const ServeOptions& options) {
  web::ConsoleSettings settings;
  if (!SplitListen(options.listen, settings.host, settings.port)) {
    std::cerr << "corvane serve: --listen takes ADDRESS:PORT, not "
              << options.listen << "\n";
    return 2;
  }
  settings.data_directory =
      std::filesystem::absolute(options.data).lexically_normal().string();
  while (settings.data_directory.size() > 1 &&
         settings.data_directory.back() == '/') {
    settings.data_directory.pop_back();
  }
  settings.smtp_server = options.smtp;
  settings.whois_server = options.whois;
  settings.rdap_server = options.rdap;
  settings.max_body = options.max_body;
  settings.threads = options.threads;
  settings.upload_extensions = options.upload_extensions;
  settings.origins = options.origins;
  settings.host_names = options.hosts;
  for (auto& name : MachineNames()) settings.host_names.push_back(name);
  PrivateFolder private_folder;
  try {
    PrepareDataDirectory(settings);
    private_folder.path = platform::MakePrivateDirectory("corvane-serve-");
    settings.private_directory = private_folder.path;
    std::string wharfpost =
        platform::DirectoryOf(platform::ProgramPath()) + "wharfpost";
    if (platform::Files().Stat(wharfpost)) {
      settings.gateway_program = web::InstallGateway(settings, wharfpost);
    }
  } catch (const Failure& failure) {
    std::cerr << "corvane serve: cannot prepare " << settings.data_directory
              << ": " << failure.description << "\n";
    return 1;
  }

  platform::StopSignals signals;  // before any thread starts
  web::ConsoleServer server(settings, std::cerr);
  std::string error;
  if (!server.Bind(error)) {
    std::cerr << "corvane serve: " << error << "\n";
    return 1;
  }
  std::string host = settings.host.find(':') != std::string::npos
                         ? "[" + settings.host + "]"
                         : settings.host;
  std::cout << "Listening on http://" << host << ":" << server.Port() << "/"
            << std::endl;
  std::thread stopper([&] {
    int number = signals.Wait();
    std::cerr << "corvane serve: signal " << number
              << ", finishing the requests in flight" << std::endl;
    server.Stop();
  });
  bool served = server.Run();
  if (!served) {
    std::cerr << "corvane serve: the server stopped with an error\n";
    private_folder.Remove();
    std::quick_exit(1);  // the signal thread still waits
  }
  stopper.join();
  std::cerr << "corvane serve: stopped" << std::endl;
  return 0;
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto options = std::make_shared<ServeOptions>();
  auto* command = app.add_subcommand(
      "serve", "A web console over every component, for a browser");
  command->footer(
      "Example:\n  corvane serve --listen 127.0.0.1:8080 --data "
      "/var/lib/corvane --smtp mail.example.org");
  command
      ->add_option("--listen", options->listen,
                   "ADDRESS:PORT to listen on (port 0: any free port)")
      ->capture_default_str();
  command
      ->add_option("--data", options->data,
                   "The data directory: uploads/, gateway/")
      ->capture_default_str();
  command->add_option("--smtp", options->smtp, "Mail server, HOST[:PORT]")
      ->capture_default_str();
  command->add_option("--whois", options->whois,
                      "Whois server, HOST[:PORT] (default: the component's)");
  command->add_option("--rdap-server", options->rdap,
                      "RDAP base URL (default: the bootstrap's server for the "
                      "query's top-level domain)");
  command
      ->add_option("--max-body", options->max_body,
                   "Largest request body in bytes; larger ones get 413")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  command
      ->add_option("--threads", options->threads,
                   "Worker threads for the pages, and as many again for the "
                   "posts that wait on mail, whois and gateway calls")
      ->capture_default_str()
      ->check(CLI::Range(1, 1024));
  command->add_option("--upload-ext", options->upload_extensions,
                      "Extensions the Upload page stores, comma-separated "
                      "(default: every extension)");
  command->add_option("--origin", options->origins,
                      "A further origin allowed to post forms, such as a "
                      "reverse proxy's https://console.example.org");
  command->add_option("--host", options->hosts,
                      "A further host name the console is reached by (NAME or "
                      "NAME:PORT); requests naming other hosts are refused");
  command->callback([options, &exit_status] { exit_status = Serve(*options); });
});

}  // namespace
}  // namespace corvane::tool

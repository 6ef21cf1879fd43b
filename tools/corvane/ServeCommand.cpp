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
#include "platform/Memory.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/Sockets.h"
#include "platform/Terminal.h"
#include "tools/corvane/Command.h"
#include "web/Accounts.h"
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
  bool no_auth = false;
  std::string users;
  std::string add_user;
  std::string tls_certificate;
  std::string tls_key;
};

// Bytes of the access token printed at start.
constexpr size_t kTokenBytes = 24;
// Blocks the allocator maps on their own (larger requests' bodies), and
// what each of its pools keeps free for the next requests.
constexpr size_t kMappedFrom = 1024 * 1024;
constexpr size_t kKeptFree = 8 * 1024 * 1024;

// corvane serve --add-user NAME --users FILE: asks for the password (twice
// on a terminal) and writes the account's hash into the file, which only
// this user may read.
int AddUser(const ServeOptions& options) {
  if (options.users.empty()) {
    std::cerr << "corvane serve: --add-user needs --users FILE\n";
    return 2;
  }
  if (!web::IsAccountName(options.add_user)) {
    std::cerr << "corvane serve: a user name is 1 to 64 characters without "
                 "blanks or ':'\n";
    return 2;
  }
  try {
    std::vector<web::Account> accounts;
    if (platform::Files().Stat(options.users)) {
      accounts = web::ParseUsers(platform::Files().ReadFile(options.users));
    }
    auto password =
        platform::ReadSecretLine("Password for " + options.add_user + ": ");
    if (password && platform::InputIsTerminal()) {
      auto again = platform::ReadSecretLine("The same again: ");
      if (again != password) {
        std::cerr << "corvane serve: the two passwords differ\n";
        return 1;
      }
    }
    if (!password || password->empty()) {
      std::cerr << "corvane serve: no password given\n";
      return 1;
    }
    web::SetAccount(accounts, options.add_user, web::HashPassword(*password));
    platform::KeepNewFilesPrivate();
    platform::WriteFileReplacing(options.users, web::UsersText(accounts));
  } catch (const Failure& failure) {
    std::cerr << "corvane serve: " << options.users << ": "
              << failure.description << "\n";
    return 1;
  }
  std::cout << "The account " << options.add_user << " is in " << options.users
            << std::endl;
  return 0;
}

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
  if (options.tls_certificate.empty() != options.tls_key.empty()) {
    std::cerr << "corvane serve: --tls-cert and --tls-key go together\n";
    return 2;
  }
  settings.tls_certificate = options.tls_certificate;
  settings.tls_key = options.tls_key;
  if (!options.no_auth) {
    settings.access_token = web::RandomToken(kTokenBytes);
    if (!options.users.empty()) {
      settings.users_file =
          std::filesystem::absolute(options.users).lexically_normal().string();
    }
  }
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

  // Each request takes and gives back a few hundred KiB (its head, body and
  // page); they stay with the process for the next request instead of
  // going back to the system and being faulted in again.
  (void)platform::KeepFreedMemory(kMappedFrom, kKeptFree);
  platform::StopSignals signals;  // before any thread starts
  web::ConsoleServer server(settings, platform::WriteStandardError);
  try {
    server.Bind();
  } catch (const Failure& failure) {
    std::cerr << "corvane serve: " << failure.description << "\n";
    return 1;
  }
  std::string host = settings.host.find(':') != std::string::npos
                         ? "[" + settings.host + "]"
                         : settings.host;
  std::string scheme = settings.Scheme() + "://";
  std::cout << "Listening on " << scheme << host << ":" << server.Port() << "/"
            << std::endl;
  if (!settings.access_token.empty()) {
    // A browser reaches a console listening on every address through the
    // loopback.
    if (settings.host == "0.0.0.0" || settings.host == "::") host = "localhost";
    std::cout << "Open " << scheme << host << ":" << server.Port()
              << "/?token=" << settings.access_token << " to log in"
              << std::endl;
  }
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
      "The console prints an address with a new access token at each start;\n"
      "opening it logs the browser in (a session cookie). --users FILE adds\n"
      "named accounts.\n\n"
      "Example:\n  corvane serve --listen 127.0.0.1:8080 --data "
      "/var/lib/corvane --smtp mail.example.org\n"
      "  corvane serve --users /etc/corvane/users --add-user alice");
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
  command->add_flag("--no-auth", options->no_auth,
                    "No log-in: only for a console behind a reverse proxy that "
                    "authenticates every request itself");
  command->add_option("--users", options->users,
                      "A file of named accounts (NAME:HASH lines written by "
                      "--add-user) who may log in beside the access token");
  command->add_option("--add-user", options->add_user,
                      "Add the account NAME to the --users file, or give it "
                      "a new password (read from the terminal without echo, "
                      "or from standard input), and exit");
  command
      ->add_option("--tls-cert", options->tls_certificate,
                   "Serve HTTPS with this PEM certificate (and its chain)")
      ->check(CLI::ExistingFile);
  command
      ->add_option("--tls-key", options->tls_key,
                   "The PEM private key of --tls-cert")
      ->check(CLI::ExistingFile);
  command->callback([options, &exit_status] {
    exit_status =
        options->add_user.empty() ? Serve(*options) : AddUser(*options);
  });
});

}  // namespace
}  // namespace corvane::tool

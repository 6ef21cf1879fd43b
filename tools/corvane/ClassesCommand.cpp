// SPDX-License-Identifier: Apache-2.0
// corvane classes | register LIB | unregister LIB: the class registry.
#include <iostream>

#include "frame/Registry.h"
#include "platform/Failure.h"
#include "platform/Library.h"
#include "tools/corvane/Command.h"

namespace corvane::tool {
namespace {

using EntryPoint = int32_t (*)();

// Loads the library and calls one of its self-registration entry points.
int CallEntryPoint(const std::string& library, const char* export_name) {
  void* handle = nullptr;
  try {
    handle = platform::LoadLibrary(library);
  } catch (const Failure& failure) {
    std::cerr << "corvane: " << failure.description << "\n";
    return 1;
  }
  EntryPoint entry = nullptr;
  try {
    entry =
        reinterpret_cast<EntryPoint>(platform::FindExport(handle, export_name));
  } catch (const Failure& failure) {
    std::cerr << "corvane: " << library << " is not a component library ("
              << failure.description << ")\n";
    return 1;
  }
  if (int32_t result = entry(); result != kSucceeded) {
    std::cerr << "corvane: " << export_name << " failed with " << result
              << " (registry " << RegistryPath() << ")\n";
    return 1;
  }
  return 0;
}

int ListClasses() {
  std::string registry = RegistryPath();
  for (const auto& entry : ReadRegistry(registry)) {
    std::cout << entry.progid << "\t"
              << RegisteredLibraryFile(registry, entry.library) << "\n";
  }
  return 0;
}

// Libraries are loaded by an absolute path, so that the registry names the
// file and not whatever the loader's search finds.
std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return path.find('/') == std::string::npos ? "./" + path : path;
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  app.add_subcommand("classes", "List the registered ProgIDs and libraries")
      ->footer("Example:\n  corvane classes | grep Corvane.SMTP")
      ->callback([&exit_status] { exit_status = ListClasses(); });
  for (auto [name, entry, help] :
       {std::tuple{"register", "DllRegisterServer",
                   "Register the classes of a component library"},
        std::tuple{"unregister", "DllUnregisterServer",
                   "Remove the classes of a component library"}}) {
    auto* command = app.add_subcommand(name, help);
    command->footer(std::string("Example:\n  corvane ") + name +
                    " /usr/local/lib/corvane/libmycomponent.so");
    auto library = std::make_shared<std::string>();
    command->add_option("library", *library, "The shared library")->required();
    // An init-capture, as clang (and so clang-tidy) before 16 cannot
    // capture a structured binding.
    command->callback([library, entry = entry, &exit_status] {
      exit_status = CallEntryPoint(AbsolutePath(*library), entry);
    });
  }
});

}  // namespace
}  // namespace corvane::tool

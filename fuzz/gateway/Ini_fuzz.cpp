// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary .ini files to Wharfpost's settings reader: a file is
// refused (a Failure with a reason) or read into settings that keep their
// promises (a required cookie has a name and a value, a disk quota is positive,
// the extension list is never empty).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "gateway/modCGI.h"
#include "platform/Failure.h"

namespace {

const std::string& IniPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() /
       ("corvane-fuzz-" + std::to_string(getpid()) + ".ini"))
          .string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream file(IniPath(), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data),
               static_cast<std::streamsize>(size));
  }
  corvane::wharfpost::Settings settings;
  try {
    settings = corvane::wharfpost::ReadIniSettings(IniPath());
  } catch (const corvane::Failure& failure) {
    if (failure.description.empty()) std::abort();
    return 0;
  }
  if (settings.cookie_required &&
      (settings.cookie_name.empty() || settings.cookie_value.empty())) {
    std::abort();
  }
  if (settings.disk_quota && *settings.disk_quota <= 0) std::abort();
  if (settings.allowed_extensions.empty()) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit([] { std::remove(IniPath().c_str()); });
  return 0;
}

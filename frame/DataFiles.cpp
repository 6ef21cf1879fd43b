// SPDX-License-Identifier: Apache-2.0
#include "frame/DataFiles.h"

#include "platform/FileSystem.h"
#include "platform/Library.h"
#include "platform/Process.h"

#ifndef CORVANE_DATA_FROM_RUNTIME
#define CORVANE_DATA_FROM_RUNTIME "../share/corvane/"
#endif

namespace corvane {

std::string DataFilePath(std::string_view name) {
  if (auto folder = platform::EnvironmentVariable("CORVANE_DATA")) {
    if (!folder->empty()) return *folder + "/" + std::string(name);
  }
  std::string runtime = platform::DirectoryOf(
      platform::ModulePath(reinterpret_cast<const void*>(&DataFilePath)));
  std::string beside = runtime + std::string(name);
  if (platform::Files().Stat(beside)) return beside;
  return runtime + CORVANE_DATA_FROM_RUNTIME + std::string(name);
}

}  // namespace corvane

// SPDX-License-Identifier: Apache-2.0
#include "platform/SystemFolders.h"

#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Library.h"

namespace corvane::platform {
namespace {

std::string ModuleFolder() {
  return DirectoryOf(ModulePath(reinterpret_cast<const void*>(&ModuleFolder)));
}

}  // namespace

bool RunsFromBuildTree() {
  std::string folder = ModuleFolder();
  if (folder.empty()) return false;
  try {
    return Files().Stat(folder + "../CMakeCache.txt").has_value();
  } catch (...) {
    return false;
  }
}

bool IsInstalledProgram(const std::string& program_folder) {
  constexpr std::string_view kBin = "/bin/";
  if (!program_folder.ends_with(kBin)) return false;
  try {
    auto data = Files().Stat(program_folder + "../share/corvane");
    return data.has_value() && (data->attributes & kDirectory) != 0;
  } catch (...) {
    return false;
  }
}

std::string SystemFolderPath(SystemFolder folder) {
  if (RunsFromBuildTree()) return ModuleFolder();
  switch (folder) {
    case SystemFolder::kConfiguration:
      return "/etc/corvane/";
    case SystemFolder::kLog:
      return "/var/log/corvane/";
    case SystemFolder::kState:
      return "/var/lib/corvane/";
    case SystemFolder::kCache:
      return "/var/cache/corvane/";
  }
  return "/var/lib/corvane/";
}

}  // namespace corvane::platform

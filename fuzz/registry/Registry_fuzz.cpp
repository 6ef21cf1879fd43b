// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary registry files to the reader of the class registry: a
// file is read into classes or refused with a Failure (never a crash), and
// every class read has a ProgID and a library, its ProgID and CLSID
// without a tab (the library, the last field, may hold one).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "frame/Registry.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace {

// Serves the fuzzer's input as the registry file; nothing touches a disk.
class InputFile : public corvane::platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::string content;
  std::optional<corvane::platform::FileInfo> Stat(std::string_view) override {
    corvane::platform::FileInfo info;
    info.name = "corvane.registry";
    info.size = content.size();
    return info;
  }
  std::string ReadFile(std::string_view) override { return content; }
  std::string ReadRegularFile(std::string_view, uint64_t) override {
    return content;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static InputFile file(corvane::platform::Files());
  static corvane::platform::ScopedFileSystem installed(file);
  file.content.assign(reinterpret_cast<const char*>(data), size);
  try {
    for (const auto& entry : corvane::ReadRegistry("/fuzz/corvane.registry")) {
      if (entry.progid.empty() || entry.library.empty()) std::abort();
      for (const std::string* field : {&entry.progid, &entry.clsid}) {
        if (field->find_first_of("\t\n") != std::string::npos) std::abort();
      }
    }
  } catch (const corvane::Failure&) {
  }
  return 0;
}

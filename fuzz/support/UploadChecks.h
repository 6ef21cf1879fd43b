// SPDX-License-Identifier: Apache-2.0
// What the fuzz targets that store uploaded files check after every request:
// a scratch directory for the whole run, nothing written outside its upload
// folder, every stored file there under a plain name, no temporary left.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "upload/FileNameRules.h"

namespace fuzz_support {

namespace fs = std::filesystem;

inline void Check(bool condition) {
  if (!condition) std::abort();
}

// A directory under /tmp for the whole run, removed when the run ends; its
// `up` folder is where each request stores its files.
class ScratchDirectory {
 public:
  explicit ScratchDirectory(std::string_view prefix) {
    std::string pattern =
        (fs::temp_directory_path() / (std::string(prefix) + "-fuzz-XXXXXX"))
            .string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDirectory() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }
  fs::path uploads() const { return path_ / "up"; }

 private:
  fs::path path_;
};

// Stored file names with the length each must have on disk (-1: any).
using StoredFiles = std::map<std::string, int64_t>;

// Aborts unless the scratch directory holds only `up`, every stored file
// is in its folder `sub` under a safe name and with its length, and no file
// named like a temporary (`temporary_prefix`) stayed behind; then empties
// `up`.
inline void CheckAndClearUploads(const ScratchDirectory& scratch,
                                 const StoredFiles& stored,
                                 std::string_view temporary_prefix,
                                 std::string_view sub = {}) {
  for (const auto& entry : fs::directory_iterator(scratch.path())) {
    Check(entry.path().filename() == "up");
  }
  const fs::path directory = scratch.uploads() / sub;
  for (const auto& [name, length] : stored) {
    Check(corvane::cargane::IsSafeStoredName(name));
    fs::path file = directory / name;
    Check(fs::exists(file));
    Check(length < 0 || static_cast<int64_t>(fs::file_size(file)) == length);
  }
  // A browser may name a file like a temporary one; anything else of that
  // form is a temporary file left behind.
  if (fs::exists(directory)) {
    for (const auto& entry : fs::directory_iterator(directory)) {
      std::string name = entry.path().filename().string();
      Check(!name.starts_with(temporary_prefix) || stored.count(name) > 0);
    }
  }
  fs::remove_all(scratch.uploads());
}

}  // namespace fuzz_support

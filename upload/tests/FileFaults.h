// SPDX-License-Identifier: Apache-2.0
// File systems that break one call, for the upload tests: a file that looks
// larger than 2 GiB, a disk that fills up, refused writes and renames.
#pragma once

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/tests/FillingDisk.h"

namespace corvane::cargane::testing {

// Makes every file named big.bin look 3 GB large.
class HugeFileSystem : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::optional<platform::FileInfo> Stat(std::string_view path) override {
    auto info = inner_.Stat(path);
    if (info && path.ends_with("big.bin")) info->size = 3'000'000'000ULL;
    return info;
  }
};

using platform::testing::FillingDisk;

// Refuses every file it is asked to create, as a directory without write
// access does.
class RefusingWrites : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::unique_ptr<platform::FileWriter> OpenWriter(
      std::string_view path, platform::WriteMode) override {
    throw FailureFromErrno(EACCES, std::string(path));
  }
};

// Refuses to put a written file in place, as a read-only old file in a
// sticky directory does.
class RefusingRename : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  // Names the file it was asked to move, as the platform's Rename does.
  void Rename(std::string_view from, std::string_view) override {
    throw FailureFromErrno(EACCES, std::string(from));
  }
};

// Answers "File already exists" to the first file it is asked to create
// anew, as a leftover of another process under the same name would.
class FirstNameTaken : public platform::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::unique_ptr<platform::FileWriter> OpenWriter(
      std::string_view path, platform::WriteMode mode) override {
    if (mode == platform::WriteMode::kCreateNew && !refused_) {
      refused_ = true;
      throw FailureFromErrno(EEXIST, std::string(path));
    }
    return inner_.OpenWriter(path, mode);
  }

 private:
  bool refused_ = false;
};

}  // namespace corvane::cargane::testing

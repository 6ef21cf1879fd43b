// SPDX-License-Identifier: Apache-2.0
// A file part being stored: its body goes to a file without a name in the
// upload directory (a hidden temporary file where the directory cannot hold
// one) and is put in place under its stored name by one rename, so a failed
// or refused upload never touches a file that was already there, and a
// process killed midway leaves nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/FileSystem.h"

namespace corvane::cargane {

class PendingFile {
 public:
  // Name prefix of Cargane's temporary files: hidden, so that page listings
  // pass over a part still being written.
  static constexpr std::string_view kTemporaryPrefix = ".cargane-";

  // A fresh name for a temporary file in `directory`; one upload numbers its
  // file parts after it, which spares a test for existence per part. Throws
  // Failure when the directory cannot be read.
  static std::string TemporaryBase(const std::string& directory,
                                   std::string_view prefix = kTemporaryPrefix);

  // Creates the temporary file `temporary_path` (another fresh name in
  // `directory`, after `prefix`, when that one exists already); throws
  // Failure (75 for an access failure) when it cannot be created. Failures
  // of this class name `full_path`, never the temporary file.
  PendingFile(const std::string& directory, std::string temporary_path,
              std::string full_path,
              std::string_view prefix = kTemporaryPrefix);
  // Removes the temporary file unless it was put in place.
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Writes the whole body and closes the file; returns its length. Throws
  // Failure (61 for a full disk, 75 for an access failure).
  int64_t WriteBody(std::string_view body);
  // Appends one piece of a body that arrives in pieces; throws Failure as
  // WriteBody does.
  void Write(std::string_view piece);
  // Closes the file after its last piece; returns the bytes written. Throws
  // Failure as WriteBody does.
  int64_t Close();
  // Size of the file now stored under the full path (0 when there is none);
  // throws Failure when it cannot be read.
  int64_t ReplacedBytes() const;
  // Renames the written file to the full path, replacing what was there;
  // throws Failure (75 when the old file is read-only or a directory, or
  // cannot be replaced; it then stays as it was).
  void Commit();

 private:
  void Discard() noexcept;
  // Runs `operation`; a Failure it throws names the stored file wherever it
  // named the temporary one, which the page never sees.
  template <class Operation>
  auto NamingStoredFile(Operation operation);

  std::string directory_;
  std::string prefix_;
  std::string full_path_;
  // Empty while the body has no name.
  std::string temporary_path_;
  bool unnamed_ = false;
  std::unique_ptr<platform::FileWriter> writer_;
  int64_t written_ = 0;
  bool committed_ = false;
};

}  // namespace corvane::cargane

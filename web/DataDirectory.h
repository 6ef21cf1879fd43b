// SPDX-License-Identifier: Apache-2.0
// Paths of the Files page: what a request names relative to the data
// directory, checked to stay inside it and held open while the page works
// on it, so that neither "..", an absolute path, nor a symbolic link (one
// that is there, or one swapped in meanwhile) reaches anything outside.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HeldPath.h"
#include "platform/RootHandle.h"

namespace corvane::web {

// Why a path is not served: the status (400 malformed, 403 leads out of
// the data directory, 404 missing, 409 changed while being opened) and a
// message for the page.
struct PathRefused : std::runtime_error {
  PathRefused(int status_code, const std::string& message)
      : std::runtime_error(message), status(status_code) {}
  int status;
};

// An entry of the data directory named by a request: its parent directory
// held open and its own name (empty for the data directory itself).
struct NamedEntry {
  platform::HeldPath parent;
  std::string name;
};

class DataDirectory {
 public:
  // `directory` is the data directory, held open; throws PathRefused (500)
  // when it cannot be opened.
  explicit DataDirectory(const std::string& directory);

  // The data directory held open, for a file system rooted in it.
  const platform::RootHandle& Root() const { return root_; }

  // The levels of a path relative to the data directory ("" and "/"-free
  // levels; "." dropped). Throws PathRefused (400) for an absolute path, a
  // ".." level or a NUL byte.
  static std::vector<std::string> Levels(std::string_view relative);
  // The levels joined by "/"; "" for the data directory.
  static std::string Joined(const std::vector<std::string>& levels);

  // The directory or regular file the path names, links resolved, held
  // open. Throws PathRefused (404 nothing there, 403 it leads out, 409 it
  // is neither a directory nor a regular file or changed meanwhile);
  // Failure when a level cannot be searched.
  platform::HeldPath Hold(std::string_view relative) const;
  // The same, and it must be a directory (else PathRefused 400).
  platform::HeldPath HoldDirectory(std::string_view relative) const;
  // The entry itself (a link is not followed) with its parent held: for
  // deleting and creating. A link that leads out is refused (403); the
  // data directory itself is refused (400). Throws PathRefused.
  NamedEntry HoldEntry(std::string_view relative) const;

  // Whether `name` in the held directory is a link that resolves outside
  // the data directory or to nothing. Never fails.
  bool LeadsOut(const platform::HeldPath& directory,
                std::string_view name) const;

 private:
  platform::RootHandle root_;
};

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
// The one way a file is replaced: its new content is made in a temporary
// file beside it, which one rename puts over the old file. Everything here
// goes through Files(), so a test's file system sees each step.
#include <string>

#include "platform/Failure.h"
#include "platform/FilePaths.h"
#include "platform/FileSystem.h"

namespace corvane::platform {
namespace {

void DiscardTemporary(const std::string& temporary) {
  if (temporary.empty()) return;
  try {
    Files().Remove(temporary);
  } catch (...) {
    // A temporary that cannot be removed is the caller's litter, not its
    // failure: the failure being reported is the one that matters.
  }
}

// Fills a fresh temporary file beside `path` with `fill` and renames it over
// `path`; on any failure the temporary is removed and `path` is untouched.
// A failure names `path`, never the temporary the caller does not know.
template <class Fill>
void ReplaceThroughTemporary(std::string_view path, Fill fill) {
  RefuseUnreplaceable(path);
  std::string name = LastComponent(path).substr(0, 64);
  std::string temporary;
  try {
    temporary = Files().TemporaryName(DirectoryPart(path), "." + name + ".");
  } catch (Failure& failure) {
    // The failure names a candidate name the caller never heard of.
    failure.description =
        StandardFailure(failure.number).description + ": " + PathText(path);
    throw;
  }
  try {
    fill(temporary);
    PutInPlace(temporary, path);
  } catch (Failure& failure) {
    DiscardTemporary(temporary);
    NameInsteadOf(failure, temporary, path);
    throw;
  } catch (...) {
    DiscardTemporary(temporary);
    throw;
  }
}

}  // namespace

void RefuseUnreplaceable(std::string_view path) {
  std::optional<FileInfo> existing = Files().Stat(path);
  if (existing && (existing->attributes & kDirectory)) {
    throw FailureFromErrno(EISDIR, PathText(path));
  }
  if (existing && (existing->attributes & kReadOnly)) {
    throw FailureFromErrno(EACCES, PathText(path));
  }
}

void PutInPlace(std::string_view temporary, std::string_view path) {
  RefuseUnreplaceable(path);
  Files().Rename(temporary, path);
}

void NameInsteadOf(Failure& failure, std::string_view hidden,
                   std::string_view shown) {
  if (hidden.empty()) return;
  std::string from = PathText(hidden);
  std::string to = PathText(shown);
  std::string& text = failure.description;
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

void WriteFileReplacing(std::string_view path, std::string_view content) {
  ReplaceThroughTemporary(path, [&](const std::string& temporary) {
    auto writer = Files().OpenWriter(temporary, WriteMode::kCreateNew);
    writer->Write(content);
    writer->Close();
  });
}

namespace {

// Puts a copy at `to` through `copy`, which creates the name it is given.
template <class Copy>
void CopyReplacing(std::string_view to, Copy copy) {
  // A new name takes the copy directly (it appears only once complete);
  // an existing one is replaced through a temporary beside it.
  if (!PathEntryExists(to)) {
    try {
      copy(to);
      return;
    } catch (const Failure& failure) {
      if (failure.number != kFileAlreadyExists) throw;
    }
  }
  ReplaceThroughTemporary(to, copy);
}

}  // namespace

void CopyFileReplacing(std::string_view from, std::string_view to) {
  CopyReplacing(
      to, [&](std::string_view target) { Files().CopyFileData(from, target); });
}

void CopyFileReplacing(DirectoryHandle& from, std::string_view name,
                       std::string_view to) {
  CopyReplacing(
      to, [&](std::string_view target) { from.CopyFileOut(name, target); });
}

}  // namespace corvane::platform

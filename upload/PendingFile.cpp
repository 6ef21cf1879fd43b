// SPDX-License-Identifier: Apache-2.0
#include "upload/PendingFile.h"

#include "platform/Failure.h"

namespace corvane::cargane {
namespace {

using platform::Files;

}  // namespace

template <class Operation>
auto PendingFile::NamingStoredFile(Operation operation) {
  try {
    return operation();
  } catch (Failure& failure) {
    platform::NameInsteadOf(failure, temporary_path_, full_path_);
    throw;
  }
}

std::string PendingFile::TemporaryBase(const std::string& directory,
                                       std::string_view prefix) {
  return Files().TemporaryName(directory, prefix);
}

PendingFile::PendingFile(const std::string& directory,
                         std::string temporary_path, std::string full_path,
                         std::string_view prefix)
    : directory_(directory),
      prefix_(prefix),
      full_path_(std::move(full_path)),
      temporary_path_(std::move(temporary_path)) {
  // A file without a name first: a process killed while it writes leaves
  // nothing behind. Where the directory cannot hold one, a hidden
  // temporary file takes the body (and gives the failure, if any).
  try {
    writer_ = Files().OpenWriter(full_path_, platform::WriteMode::kUnnamed);
    temporary_path_.clear();
    unnamed_ = true;
    return;
  } catch (const Failure&) {
    // The named temporary below reports its own failure, if any.
  }
  NamingStoredFile([&] {
    try {
      writer_ =
          Files().OpenWriter(temporary_path_, platform::WriteMode::kCreateNew);
    } catch (const Failure& failure) {
      if (failure.number != kFileAlreadyExists) throw;
      temporary_path_ = TemporaryBase(directory, prefix);
      writer_ =
          Files().OpenWriter(temporary_path_, platform::WriteMode::kCreateNew);
    }
  });
}

PendingFile::~PendingFile() {
  if (!committed_) Discard();
}

int64_t PendingFile::WriteBody(std::string_view body) {
  Write(body);
  return Close();
}

void PendingFile::Write(std::string_view piece) {
  NamingStoredFile([&] { writer_->Write(piece); });
  written_ += static_cast<int64_t>(piece.size());
}

int64_t PendingFile::Close() {
  NamingStoredFile([&] { writer_->Close(); });
  return written_;
}

int64_t PendingFile::ReplacedBytes() const {
  auto existing = Files().Stat(full_path_);
  if (!existing || (existing->attributes & platform::kDirectory)) return 0;
  return static_cast<int64_t>(existing->size);
}

void PendingFile::Commit() {
  // A read-only earlier file stays, as a replace by Vantry leaves it.
  NamingStoredFile([&] {
    if (unnamed_) {
      // Where nothing has the stored name yet, the body takes it at once:
      // one link, which fails rather than replace what appeared meanwhile.
      try {
        writer_->LinkAs(full_path_);
        unnamed_ = false;
        return;
      } catch (const Failure& failure) {
        if (failure.number != kFileAlreadyExists) throw;
      }
      // Otherwise it gets a name beside the stored file, and is renamed
      // over it at once.
      platform::RefuseUnreplaceable(full_path_);
      for (int attempt = 0;; ++attempt) {
        temporary_path_ = TemporaryBase(directory_, prefix_);
        try {
          writer_->LinkAs(temporary_path_);
          break;
        } catch (const Failure& failure) {
          temporary_path_.clear();
          if (failure.number != kFileAlreadyExists || attempt == 2) throw;
        }
      }
      unnamed_ = false;
    }
    platform::PutInPlace(temporary_path_, full_path_);
  });
  committed_ = true;
}

void PendingFile::Discard() noexcept {
  writer_.reset();
  if (temporary_path_.empty()) return;  // a file without a name is gone
  try {
    Files().Remove(temporary_path_);
  } catch (...) {
    // A discard runs while a failure is already being reported, which
    // matters more; a temporary left behind is marked as one by its name.
  }
}

}  // namespace corvane::cargane

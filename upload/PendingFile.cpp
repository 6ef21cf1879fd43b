// SPDX-License-Identifier: Apache-2.0
#include "upload/PendingFile.h"

#include "platform/Failure.h"

namespace corvane::cargane {
namespace {

using platform::Files;

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

}  // namespace

template <class Operation>
auto PendingFile::NamingStoredFile(Operation operation) {
  try {
    return operation();
  } catch (Failure& failure) {
    ReplaceAll(failure.description, temporary_path_, full_path_);
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
    : full_path_(std::move(full_path)),
      temporary_path_(std::move(temporary_path)) {
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
  NamingStoredFile([&] {
    auto writer = std::move(writer_);
    writer->Close();
  });
  return written_;
}

int64_t PendingFile::ReplacedBytes() const {
  auto existing = Files().Stat(full_path_);
  if (!existing || (existing->attributes & platform::kDirectory)) return 0;
  return static_cast<int64_t>(existing->size);
}

void PendingFile::Commit() {
  NamingStoredFile([&] { Files().Rename(temporary_path_, full_path_); });
  committed_ = true;
}

void PendingFile::Discard() noexcept {
  writer_.reset();
  try {
    Files().Remove(temporary_path_);
  } catch (...) {
  }
}

}  // namespace corvane::cargane

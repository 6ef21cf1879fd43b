// SPDX-License-Identifier: Apache-2.0
// A file system for tests that fills up: writes and copies go through until
// a byte budget is spent, then fail as a full disk does.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Failure.h"
#include "platform/FileSystem.h"

namespace corvane::platform::testing {

// Lets the first writes through and fails a write once `budget` bytes have
// gone out, as a disk that fills up does; file copies count too.
class FillingDisk : public ForwardingFileSystem {
 public:
  FillingDisk(FileSystem& inner, size_t budget)
      : ForwardingFileSystem(inner), budget_(budget) {}
  std::unique_ptr<FileWriter> OpenWriter(std::string_view path,
                                         WriteMode mode) override {
    class Writer : public FileWriter {
     public:
      Writer(std::unique_ptr<FileWriter> inner, size_t& budget)
          : inner_(std::move(inner)), budget_(budget) {}
      void Write(std::string_view data) override {
        size_t fits = std::min(data.size(), budget_);
        inner_->Write(data.substr(0, fits));
        budget_ -= fits;
        if (fits < data.size()) throw FailureFromErrno(ENOSPC);
      }
      void Close() override { inner_->Close(); }
      void LinkAs(std::string_view path) override { inner_->LinkAs(path); }

     private:
      std::unique_ptr<FileWriter> inner_;
      size_t& budget_;
    };
    return std::make_unique<Writer>(inner_.OpenWriter(path, mode), budget_);
  }

  // Copies go through the same budget.
  void CopyFileData(std::string_view from, std::string_view to) override {
    std::string content = inner_.ReadRegularFile(from, SIZE_MAX);
    OpenWriter(to, WriteMode::kCreateNew)->Write(content);
  }

 private:
  size_t budget_;
};

}  // namespace corvane::platform::testing

// SPDX-License-Identifier: Apache-2.0
// Fault sweeps: a file system and a socket layer that fail the N-th call
// made through them (every call counts, including the writes, reads and
// closes of the files they open), and the loop that runs an operation for
// N = 1, 2, ... until it completes without meeting its fault.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "platform/Sockets.h"

namespace corvane::platform::testing {

// Counts calls and tells which one is to fail.
class CallCounter {
 public:
  explicit CallCounter(int fail_at) : fail_at_(fail_at) {}
  // True for the call that is to fail.
  bool Next() { return ++calls_ == fail_at_; }
  bool Failed() const { return calls_ >= fail_at_; }
  int Calls() const { return calls_; }

 private:
  int fail_at_;
  int calls_ = 0;
};

// A file system whose N-th call throws the I/O error (57), as a failing
// disk does; Find answers nothing, as for a directory it cannot read.
class FailNthFileCall : public ForwardingFileSystem {
 public:
  FailNthFileCall(FileSystem& inner, int fail_at)
      : ForwardingFileSystem(inner), counter_(fail_at) {}
  const CallCounter& Counter() const { return counter_; }

  std::vector<FileInfo> Find(std::string_view p) override {
    if (counter_.Next()) return {};
    return inner_.Find(p);
  }
  std::optional<FileInfo> Stat(std::string_view p) override {
    Tick(p);
    return inner_.Stat(p);
  }
  std::string ReadFile(std::string_view p) override {
    Tick(p);
    return inner_.ReadFile(p);
  }
  std::unique_ptr<FileReader> OpenReader(std::string_view p) override {
    Tick(p);
    return std::make_unique<Reader>(inner_.OpenReader(p), *this);
  }
  std::unique_ptr<FileWriter> OpenWriter(std::string_view p,
                                         WriteMode m) override {
    Tick(p);
    return std::make_unique<Writer>(inner_.OpenWriter(p, m), *this);
  }
  void Rename(std::string_view a, std::string_view b) override {
    Tick(a);
    inner_.Rename(a, b);
  }
  void Remove(std::string_view p) override {
    Tick(p);
    inner_.Remove(p);
  }
  void CreateDirectory(std::string_view p) override {
    Tick(p);
    inner_.CreateDirectory(p);
  }
  void RemoveDirectory(std::string_view p) override {
    Tick(p);
    inner_.RemoveDirectory(p);
  }
  void SetAttributes(std::string_view p, uint32_t a) override {
    Tick(p);
    inner_.SetAttributes(p, a);
  }
  uint64_t FreeSpace(std::string_view p) override {
    Tick(p);
    return inner_.FreeSpace(p);
  }
  std::string TemporaryName(std::string_view d, std::string_view p) override {
    Tick(d);
    return inner_.TemporaryName(d, p);
  }
  std::unique_ptr<DirectoryHandle> OpenDirectory(std::string_view p) override {
    Tick(p);
    return std::make_unique<Directory>(inner_.OpenDirectory(p), *this);
  }
  void RemoveUnlessReadOnly(std::string_view p) override {
    Tick(p);
    inner_.RemoveUnlessReadOnly(p);
  }
  void RenameNoReplace(std::string_view a, std::string_view b) override {
    Tick(a);
    inner_.RenameNoReplace(a, b);
  }
  void CopyFileData(std::string_view a, std::string_view b) override {
    Tick(b);
    inner_.CopyFileData(a, b);
  }
  std::string ReadRegularFile(std::string_view p, uint64_t l) override {
    Tick(p);
    return inner_.ReadRegularFile(p, l);
  }
  // Never fails: the failing call finds nothing, as a look that fails does.
  bool EntryExists(std::string_view p) override {
    if (counter_.Next()) return false;
    return inner_.EntryExists(p);
  }

 private:
  void Tick(std::string_view what) {
    if (counter_.Next()) throw FailureFromErrno(EIO, std::string(what));
  }

  class Writer : public FileWriter {
   public:
    Writer(std::unique_ptr<FileWriter> inner, FailNthFileCall& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    void Write(std::string_view data) override {
      owner_.Tick("write");
      inner_->Write(data);
    }
    void Close() override {
      owner_.Tick("close");
      inner_->Close();
    }
    void LinkAs(std::string_view path) override {
      owner_.Tick(path);
      inner_->LinkAs(path);
    }

   private:
    std::unique_ptr<FileWriter> inner_;
    FailNthFileCall& owner_;
  };

  class Reader : public FileReader {
   public:
    Reader(std::unique_ptr<FileReader> inner, FailNthFileCall& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    size_t Read(char* buffer, size_t count) override {
      owner_.Tick("read");
      return inner_->Read(buffer, count);
    }
    void Seek(uint64_t offset) override {
      owner_.Tick("seek");
      inner_->Seek(offset);
    }

   private:
    std::unique_ptr<FileReader> inner_;
    FailNthFileCall& owner_;
  };

  class Directory : public DirectoryHandle {
   public:
    Directory(std::unique_ptr<DirectoryHandle> inner, FailNthFileCall& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    std::vector<Entry> Entries() override {
      owner_.Tick("entries");
      return inner_->Entries();
    }
    std::unique_ptr<DirectoryHandle> OpenSubdirectory(
        std::string_view name) override {
      owner_.Tick(name);
      return std::make_unique<Directory>(inner_->OpenSubdirectory(name),
                                         owner_);
    }
    void RemoveFile(std::string_view name) override {
      owner_.Tick(name);
      inner_->RemoveFile(name);
    }
    void RemoveSubdirectory(std::string_view name) override {
      owner_.Tick(name);
      inner_->RemoveSubdirectory(name);
    }
    void CopyFileOut(std::string_view name, std::string_view to) override {
      owner_.Tick(name);
      inner_->CopyFileOut(name, to);
    }

   private:
    std::unique_ptr<DirectoryHandle> inner_;
    FailNthFileCall& owner_;
  };

  CallCounter counter_;
};

// A socket layer whose N-th call fails as a reset connection does (10054);
// a lookup fails as an unknown host does (11001).
class FailNthSocketCall : public ForwardingSockets {
 public:
  static constexpr int32_t kReset = 10054;
  FailNthSocketCall(Sockets& inner, int fail_at)
      : ForwardingSockets(inner), counter_(fail_at) {}
  const CallCounter& Counter() const { return counter_; }

  int32_t Create() override { return Fails() ? -1 : inner_.Create(); }
  bool Connect(int32_t s, uint32_t a, uint16_t p, int t) override {
    return !Fails() && inner_.Connect(s, a, p, t);
  }
  int32_t Send(int32_t s, const char* d, int32_t n, int t) override {
    return Fails() ? -1 : inner_.Send(s, d, n, t);
  }
  int32_t Receive(int32_t s, char* b, int32_t n, int t) override {
    return Fails() ? -1 : inner_.Receive(s, b, n, t);
  }
  uint32_t Lookup(std::string_view n) override {
    if (counter_.Next()) {
      inner_.SetLastError(11001);
      return kNoAddress;
    }
    return inner_.Lookup(n);
  }

 private:
  bool Fails() {
    if (!counter_.Next()) return false;
    inner_.SetLastError(kReset);
    return true;
  }
  CallCounter counter_;
};

// Runs `attempt(n)` for n = 1, 2, ... ; `attempt` installs a layer that
// fails its n-th call, runs the operation, checks what it left and returns
// whether the fault was met (false once the operation ran to its end
// without meeting it). Returns the number of faults swept.
inline int SweepUntilComplete(const std::function<bool(int)>& attempt,
                              int limit = 2000) {
  for (int n = 1; n <= limit; ++n) {
    if (!attempt(n)) return n - 1;
  }
  ADD_FAILURE() << "the operation still met its fault at call " << limit;
  return limit;
}

}  // namespace corvane::platform::testing

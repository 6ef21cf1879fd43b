// SPDX-License-Identifier: Apache-2.0
// Binds a program or library to libtallowin.so at run time: loads it by
// file name, first from a given folder, then through the loader's search
// path, and finds its exports by name. Header-only, so that any target
// linked with the platform library can bind without linking Tallowin.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base64/Tallowin.h"
#include "platform/Failure.h"
#include "platform/Library.h"

namespace corvane::tallowin {

inline constexpr const char* kLibraryFileName = "libtallowin.so";
// The name the library carries (its SONAME, from its major version): an
// installation without the development files has only this one.
inline constexpr const char* kLibrarySoname = "libtallowin.so.1";

using Base64EncodeFunction = decltype(&::Base64Encode);
using EncodeBase64BufferFunction = decltype(&::EncodeBase64Buffer);
using ReleaseBase64BufferFunction = decltype(&::ReleaseBase64Buffer);
using Base64DecodeFunction = decltype(&::Base64Decode);

class Binding {
 public:
  // `folder` is searched first (with its trailing '/'); `file_name` is the
  // library's file name. `source` names the caller in failures.
  Binding(std::string folder, std::string file_name, std::string_view source)
      : folder_(std::move(folder)),
        file_name_(std::move(file_name)),
        source_(source) {}

  // The export `name` as a function of type F, loading the library on the
  // first call. Throws Failure 53 "File not found: " and the file name when
  // the library cannot be loaded, 453 when it lacks the export. A failed
  // load is tried again on the next call.
  template <class F>
  F Export(const std::string& name) {
    std::lock_guard lock(mutex_);
    if (library_ == nullptr) library_ = Load();
    try {
      return reinterpret_cast<F>(platform::FindExport(library_, name));
    } catch (const Failure&) {
      throw Failure(kDllFunctionNotFound, source_,
                    StandardErrorText(kDllFunctionNotFound));
    }
  }

  // The Base64Encode export; throws as Export does.
  Base64EncodeFunction Base64Encode() {
    return Export<Base64EncodeFunction>("Base64Encode");
  }

 private:
  void* Load() const {
    std::vector<std::string> names{file_name_};
    if (file_name_ == kLibraryFileName) names.emplace_back(kLibrarySoname);
    std::vector<std::string> paths;
    for (const auto& name : names) {
      if (!folder_.empty()) paths.push_back(folder_ + name);
    }
    paths.insert(paths.end(), names.begin(), names.end());
    for (const auto& path : paths) {
      try {
        return platform::LoadLibrary(path);
      } catch (const Failure&) {
        // The next place is tried; when none has it, the failure below
        // names the file the caller asked for.
      }
    }
    throw Failure(kFileNotFound, source_, "File not found: " + file_name_);
  }

  std::mutex mutex_;
  void* library_ = nullptr;  // kept loaded for the process's life
  std::string folder_;
  std::string file_name_;
  std::string source_;
};

}  // namespace corvane::tallowin

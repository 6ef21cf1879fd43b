// SPDX-License-Identifier: Apache-2.0
// A scratch directory for the upload tests, removed with everything in it
// when the test ends, with helpers to put and read files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace corvane::cargane::testing {

class TestDirectory {
 public:
  TestDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "cargane-test-XXXXXX")
            .string();
    path_ = mkdtemp(pattern.data());
  }
  ~TestDirectory() { std::filesystem::remove_all(path_); }

  // The directory with a trailing "/".
  std::string Path() const { return path_.string() + "/"; }
  std::string operator/(const std::string& name) const { return Path() + name; }

  void Put(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(
        std::filesystem::path(Path() + name).parent_path());
    std::ofstream(Path() + name, std::ios::binary) << content;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path() + name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  bool Has(const std::string& name) const {
    return std::filesystem::exists(Path() + name);
  }
  // Every name directly inside (hidden ones included).
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace corvane::cargane::testing

// SPDX-License-Identifier: Apache-2.0
// A scratch directory for the Vantry tests, removed with everything in it
// when the test ends, with helpers to put, read and list files.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace corvane::vantry::testing {

class TestTree {
 public:
  TestTree() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vantry-test-XXXXXX")
            .string();
    root_ = mkdtemp(pattern.data());
  }
  ~TestTree() {
    // Read-only entries do not stop the clean-up.
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(root_)) {
      if (!entry.is_symlink()) ::chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(root_);
  }
  TestTree(const TestTree&) = delete;
  TestTree& operator=(const TestTree&) = delete;

  // The path of `name` inside the tree (the tree itself for "").
  std::string operator/(const std::string& name) const {
    return root_ + "/" + name;
  }

  void Put(const std::string& name, const std::string& content) const {
    std::filesystem::create_directories(
        std::filesystem::path(*this / name).parent_path());
    std::ofstream(*this / name, std::ios::binary) << content;
  }
  void Dir(const std::string& name) const {
    std::filesystem::create_directories(*this / name);
  }
  void ReadOnly(const std::string& name) const {
    ::chmod((*this / name).c_str(), 0444);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(*this / name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  bool Has(const std::string& name) const {
    return std::filesystem::exists(
        std::filesystem::symlink_status(*this / name));
  }
  // Every name directly inside `directory` (hidden ones included).
  std::set<std::string> Names(const std::string& directory = "") const {
    std::set<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(*this / directory)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

 private:
  std::string root_;
};

}  // namespace corvane::vantry::testing

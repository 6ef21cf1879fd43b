// SPDX-License-Identifier: Apache-2.0
// Times one Vantry operation on trees that compare.py made, and reports the
// seconds, the result and the growth of the peak resident memory as JSON.
// Usage: filemgmt_bench [--rooted ROOT] readdir DIR | deletedir DIR |
//        copyfile SRC DST | copyfileex SRCDIR DSTDIR
// With --rooted the operation runs through a file system rooted in ROOT
// (as the console's Files page runs it) and the paths are taken below ROOT.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "filemgmt/Vantry.h"
#include "frame/Collection.h"
#include "platform/RootHandle.h"
#include "platform/RootedFileSystem.h"

namespace {

long PeakKilobytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// User and system time of this process so far.
double CpuSeconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<corvane::platform::RootHandle> root;
  std::optional<corvane::platform::RootedFileSystem> rooted;
  std::optional<corvane::platform::ScopedThreadFileSystem> scope;
  if (argc > 2 && std::strcmp(argv[1], "--rooted") == 0) {
    root.emplace(argv[2]);
    rooted.emplace(*root);
    scope.emplace(*rooted);
    argc -= 2;
    argv += 2;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OPERATION PATH [PATH]\n", argv[0]);
    return 2;
  }
  std::string operation = argv[1];
  std::string first = argv[2];
  std::string second = argc > 3 ? argv[3] : "";
  corvane::vantry::Vantry vantry;
  long peak_before = PeakKilobytes();
  double cpu_before = CpuSeconds();
  auto start = std::chrono::steady_clock::now();
  long result = 0;
  long entries = 0;
  if (operation == "readdir") {
    result = vantry.ReadDir(first);
  } else if (operation == "deletedir") {
    result = vantry.DeleteDir(first);
  } else if (operation == "copyfile") {
    result = vantry.CopyFile(first, second);
  } else if (operation == "copyfileex") {
    result = vantry.CopyFileEx(first, second, corvane::Variant("*"));
  } else {
    std::fprintf(stderr, "unknown operation %s\n", operation.c_str());
    return 2;
  }
  std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  double cpu_seconds = CpuSeconds() - cpu_before;
  if (operation == "readdir" && result == 1) {
    entries = static_cast<long>(vantry.Files()->Enumerate().size() +
                                vantry.SubDirs()->Enumerate().size());
  }
  std::printf(
      "{\"seconds\": %.6f, \"cpu_seconds\": %.6f, \"result\": %ld, "
      "\"entries\": %ld, \"peak_growth_kb\": %ld, \"error\": \"%s\"}\n",
      elapsed.count(), cpu_seconds, result, entries,
      PeakKilobytes() - peak_before, vantry.GetLastErrDescription().c_str());
  return result == 1 ? 0 : 1;
}

// SPDX-License-Identifier: Apache-2.0
// Vantry's write, copy and delete with the N-th file-system call failing,
// for every N until the operation completes: after each, nothing lies
// outside its place, no temporary is left, the earlier file is whole (old
// or new, never cut), and the call either reports a recorded failure or
// did all of its work.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "filemgmt/Vantry.h"
#include "filemgmt/tests/TestTree.h"
#include "platform/tests/FailNth.h"

namespace corvane::vantry {
namespace {

using platform::testing::FailNthFileCall;
using platform::testing::SweepUntilComplete;
using testing::TestTree;

// Runs `operation` on a fresh Vantry with the n-th call failing; returns
// its result and whether the fault was met.
template <typename Operation>
std::pair<int64_t, bool> WithFault(int n, Vantry& vantry, Operation operation) {
  FailNthFileCall disk(platform::Files(), n);
  platform::ScopedFileSystem scope(disk);
  int64_t result = operation(vantry);
  return {result, disk.Counter().Failed()};
}

const std::string kOld = "old content";
const std::string kNew(70000, 'n');

TEST(VantryFaultSweep, WriteFileReplacesWholeOrNotAtAll) {
  int swept = SweepUntilComplete([&](int n) {
    TestTree tree;
    tree.Put("d/f.txt", kOld);
    Vantry vantry;
    auto [result, met] = WithFault(n, vantry, [&](Vantry& v) {
      return v.WriteFile(tree / "d/f.txt", kNew);
    });
    SCOPED_TRACE("failing call " + std::to_string(n));
    EXPECT_EQ(tree.Names(), std::set<std::string>{"d"});
    EXPECT_EQ(tree.Names("d"), std::set<std::string>{"f.txt"});
    std::string now = tree.Read("d/f.txt");
    if (result == static_cast<int64_t>(kNew.size())) {
      EXPECT_EQ(now, kNew);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(now, kOld);
      EXPECT_NE(vantry.GetLastErrNum(), 0);
    }
    return met;
  });
  EXPECT_GT(swept, 2);
}

TEST(VantryFaultSweep, CopyFileReplacesWholeOrNotAtAll) {
  int swept = SweepUntilComplete([&](int n) {
    TestTree tree;
    tree.Put("d/from.bin", kNew);
    tree.Put("d/to.bin", kOld);
    Vantry vantry;
    auto [result, met] = WithFault(n, vantry, [&](Vantry& v) {
      return v.CopyFile(tree / "d/from.bin", tree / "d/to.bin");
    });
    SCOPED_TRACE("failing call " + std::to_string(n));
    EXPECT_EQ(tree.Names(), std::set<std::string>{"d"});
    EXPECT_EQ(tree.Names("d"), (std::set<std::string>{"from.bin", "to.bin"}));
    EXPECT_EQ(tree.Read("d/from.bin"), kNew);
    std::string now = tree.Read("d/to.bin");
    if (result == 1) {
      EXPECT_EQ(now, kNew);
    } else if (result == 0) {
      // The look-up of the source met the fault: Find answers an unreadable
      // directory with nothing, so the copy says there is no source file
      // and touches nothing.
      EXPECT_EQ(now, kOld);
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_EQ(now, kOld);
      EXPECT_NE(vantry.GetLastErrNum(), 0);
    }
    return met;
  });
  EXPECT_GT(swept, 2);
}

TEST(VantryFaultSweep, DeleteDirRemovesAllOrReportsAndStaysInside) {
  int swept = SweepUntilComplete([&](int n) {
    TestTree tree;
    tree.Put("keep.txt", kOld);
    tree.Put("victim/a.txt", "a");
    tree.Put("victim/sub/b.txt", "b");
    tree.Put("victim/sub/deeper/c.txt", "c");
    Vantry vantry;
    auto [result, met] = WithFault(
        n, vantry, [&](Vantry& v) { return v.DeleteDir(tree / "victim"); });
    SCOPED_TRACE("failing call " + std::to_string(n));
    EXPECT_EQ(tree.Read("keep.txt"), kOld);
    if (result == 1) {
      EXPECT_EQ(tree.Names(), std::set<std::string>{"keep.txt"});
    } else if (result == 0) {
      // As for the copy: the look-up met the fault and found nothing.
      EXPECT_EQ(tree.Read("victim/sub/deeper/c.txt"), "c");
      EXPECT_EQ(tree.Read("victim/a.txt"), "a");
    } else {
      EXPECT_EQ(result, -1);
      EXPECT_TRUE(tree.Has("victim"));
      // DeleteDir records the walk's failures; when only the removal of the
      // emptied directory itself fails, it returns -1 and records nothing
      // (as when a dotted name keeps the directory).
      if (vantry.GetLastErrNum() == 0) {
        EXPECT_TRUE(tree.Names("victim").empty());
      }
    }
    return met;
  });
  EXPECT_GT(swept, 5);
}

}  // namespace
}  // namespace corvane::vantry

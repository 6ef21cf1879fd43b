#include "upload/PendingFile.h"

#include <gtest/gtest.h>

#include "upload/tests/TestDirectory.h"

namespace corvane::cargane {
namespace {

using testing::TestDirectory;
using Names = std::set<std::string>;

TEST(PendingFile, CommitReplacesAtomicallyAndDiscardLeavesNothing) {
  TestDirectory dir;
  dir.Put("a.txt", "old");
  {
    PendingFile file(dir.Path(), dir / "a.txt");
    EXPECT_EQ(dir.Names().size(), 2u);  // the temporary beside the old file
    EXPECT_EQ(file.WriteBody("newer"), 5);
    EXPECT_EQ(file.ReplacedBytes(), 3);
    EXPECT_EQ(dir.Read("a.txt"), "old");
    file.Commit();
  }
  EXPECT_EQ(dir.Read("a.txt"), "newer");
  EXPECT_EQ(dir.Names(), Names{"a.txt"});
  {
    PendingFile file(dir.Path(), dir / "a.txt");
    file.WriteBody("discarded");
  }
  EXPECT_EQ(dir.Read("a.txt"), "newer");
  EXPECT_EQ(dir.Names(), Names{"a.txt"});
  PendingFile fresh(dir.Path(), dir / "new.txt");
  EXPECT_EQ(fresh.ReplacedBytes(), 0);
}

}  // namespace
}  // namespace corvane::cargane

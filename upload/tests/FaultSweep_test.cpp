// SPDX-License-Identifier: Apache-2.0
// Cargane's upload with the N-th file-system call failing, for every N
// until the upload completes: after each, nothing lies outside the upload
// directory, no temporary is left, the file that was there before is whole
// (old or new, never cut), and the upload either reports a failure or
// stored everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/tests/FailNth.h"
#include "upload/PendingFile.h"
#include "upload/tests/TestDirectory.h"
#include "upload/tests/UploadPage.h"

namespace corvane::cargane {
namespace {

using platform::testing::FailNthFileCall;
using testing::FilePart;
using testing::TextPart;

TEST(UploadFaultSweep, EveryFailingCallLeavesTheDirectoryWhole) {
  const std::string second(64 * 1024, 'b');
  const std::string body =
      FilePart("f1", "earlier.txt", "new content") + TextPart("note", "hello") +
      FilePart("f2", "second.bin", second) + testing::kClosing;
  int swept = platform::testing::SweepUntilComplete([&](int n) {
    testing::TestDirectory root;
    root.Put("up/earlier.txt", "old");
    testing::Page page(root / "up/");
    int16_t code;
    bool met;
    {
      FailNthFileCall disk(platform::Files(), n);
      platform::ScopedFileSystem scope(disk);
      code = page.Run(body);
      met = disk.Counter().Failed();
    }
    SCOPED_TRACE("failing call " + std::to_string(n));
    for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
      EXPECT_EQ(entry.path().filename(), "up");
    }
    for (const auto& entry : std::filesystem::directory_iterator(root / "up")) {
      std::string name = entry.path().filename();
      EXPECT_FALSE(name.starts_with(PendingFile::kTemporaryPrefix)) << name;
      EXPECT_TRUE(name == "earlier.txt" || name == "second.bin") << name;
    }
    std::string earlier = root.Read("up/earlier.txt");
    EXPECT_TRUE(earlier == "old" || earlier == "new content") << earlier;
    if (root.Has("up/second.bin")) {
      EXPECT_EQ(root.Read("up/second.bin"), second);
    }
    if (code == kUploadDone) {
      EXPECT_EQ(earlier, "new content");
      EXPECT_EQ(root.Read("up/second.bin"), second);
    } else {
      EXPECT_LT(code, 0);
      EXPECT_NE(page.object->Call("GetLastErrNum"), Variant(int32_t{0}));
    }
    return met;
  });
  EXPECT_GT(swept, 5);
}

}  // namespace
}  // namespace corvane::cargane

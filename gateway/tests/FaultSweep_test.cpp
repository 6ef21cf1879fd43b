// SPDX-License-Identifier: Apache-2.0
// Wharfpost's reading of a request with the N-th file-system call failing,
// for every N until the request completes: after each, nothing lies
// outside the upload directory, no temporary is left, the file that was
// there before is whole (old or new, never cut), and the request either
// reports a failure or stored everything.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "gateway/MultipartReader.h"
#include "platform/tests/FailNth.h"
#include "upload/tests/TestDirectory.h"

namespace corvane::wharfpost {
namespace {

using cargane::testing::TestDirectory;
using platform::testing::FailNthFileCall;

std::string FilePart(const std::string& field, const std::string& name,
                     const std::string& content) {
  return "--AaB03x\r\nContent-Disposition: form-data; name=\"" + field +
         "\"; filename=\"" + name + "\"\r\n\r\n" + content + "\r\n";
}

TEST(WharfpostFaultSweep, EveryFailingCallLeavesTheDirectoryWhole) {
  const std::string second(100 * 1024, 'b');
  const std::string body = FilePart("f1", "earlier.txt", "new content") +
                           "--AaB03x\r\nContent-Disposition: form-data; "
                           "name=\"note\"\r\n\r\nhi\r\n" +
                           FilePart("f2", "second.bin", second) +
                           "--AaB03x--\r\n";
  int swept = platform::testing::SweepUntilComplete([&](int n) {
    TestDirectory root;
    root.Put("up/earlier.txt", "old");
    UploadRequest request{
        "--AaB03x", root / "up/", static_cast<int64_t>(body.size()), "", {"*"}};
    size_t at = 0;
    auto input = [&](char* buffer, size_t count) {
      size_t piece = std::min(count, body.size() - at);
      std::memcpy(buffer, body.data() + at, piece);
      at += piece;
      return piece;
    };
    UploadState state;
    int16_t code;
    bool met;
    {
      FailNthFileCall disk(platform::Files(), n);
      platform::ScopedFileSystem scope(disk);
      code = ReadMultipartInput(request, input, state);
      met = disk.Counter().Failed();
    }
    SCOPED_TRACE("failing call " + std::to_string(n));
    for (const auto& entry : std::filesystem::directory_iterator(root.Path())) {
      EXPECT_EQ(entry.path().filename(), "up");
    }
    for (const auto& entry : std::filesystem::directory_iterator(root / "up")) {
      std::string name = entry.path().filename();
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
      EXPECT_FALSE(state.failure.empty());
    }
    return met;
  });
  EXPECT_GT(swept, 5);
}

}  // namespace
}  // namespace corvane::wharfpost

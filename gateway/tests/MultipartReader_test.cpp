// SPDX-License-Identifier: Apache-2.0
#include "gateway/MultipartReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "upload/tests/FileFaults.h"
#include "upload/tests/TestDirectory.h"

namespace corvane::wharfpost {
namespace {

using cargane::testing::FillingDisk;
using cargane::testing::RefusingWrites;
using cargane::testing::TestDirectory;

constexpr std::string_view kBoundary = "--AaB03x";

std::string FilePart(std::string_view field, std::string_view name,
                     std::string_view content) {
  return std::string(kBoundary) +
         "\r\nContent-Disposition: form-data; name=\"" + std::string(field) +
         "\"; filename=\"" + std::string(name) +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
         std::string(content) + "\r\n";
}

std::string TextPart(std::string_view field, std::string_view value) {
  return std::string(kBoundary) +
         "\r\nContent-Disposition: form-data; name=\"" + std::string(field) +
         "\"\r\n\r\n" + std::string(value) + "\r\n";
}

std::string Closing() { return std::string(kBoundary) + "--\r\n"; }

std::string Bytes(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  return bytes;
}

// Feeds a body in reads of at most `piece` bytes; `stop_after` ends the
// input early, as a client that goes away does.
struct Feed {
  std::string body;
  size_t piece;
  size_t stop_after = std::string::npos;
  size_t at = 0;
  size_t reads = 0;

  size_t operator()(char* buffer, size_t count) {
    ++reads;
    size_t end = std::min(body.size(), stop_after);
    size_t n = std::min({count, piece, end - std::min(at, end)});
    std::memcpy(buffer, body.data() + at, n);
    at += n;
    return n;
  }
};

struct Outcome {
  int16_t code;
  UploadState state;
};

Outcome Read(const TestDirectory& dir, const std::string& body, size_t piece,
             std::string query = {}, std::optional<int64_t> quota = {},
             std::vector<std::string> allowed = {"*"},
             size_t stop_after = std::string::npos) {
  UploadRequest request{std::string(kBoundary), dir.Path(),
                        static_cast<int64_t>(body.size()), std::move(query),
                        std::move(allowed)};
  Feed feed{body, piece, stop_after};
  Outcome run{0, {}};
  run.state.remaining_quota = quota;
  run.code = ReadMultipartInput(request, std::ref(feed), run.state);
  return run;
}

// Reads of every size from 1 byte up to a little more than the body, and
// the program's own read size.
std::vector<size_t> PieceSizes(size_t body_size) {
  std::vector<size_t> sizes;
  for (size_t n = 1; n <= std::min<size_t>(body_size + 1, 400); ++n) {
    sizes.push_back(n);
  }
  sizes.push_back(kReadSize);
  return sizes;
}

TEST(ReadMultipartInput, SameOutcomeInReadsOfEverySize) {
  std::string body = "preamble\r\n" +
                     FilePart("f1", "C:\\docs\\a.gif", "GIF\r\n89") +
                     TextPart("title", "Holiday\r\nsnaps") +
                     FilePart("f2", "b.bin", "") + Closing();
  for (size_t piece : PieceSizes(body.size())) {
    SCOPED_TRACE(piece);
    TestDirectory dir;
    Outcome run = Read(dir, body, piece);
    EXPECT_EQ(run.code, kUploadDone);
    ASSERT_EQ(run.state.uploaded_files.size(), 2u);
    EXPECT_EQ(run.state.uploaded_files[0].FileName, "a.gif");
    EXPECT_EQ(run.state.uploaded_files[0].FileLen, 7);
    EXPECT_EQ(run.state.uploaded_files[1].FileLen, 0);
    ASSERT_EQ(run.state.form_items.size(), 1u);
    EXPECT_EQ(run.state.form_items[0].Value, "Holiday\r\nsnaps");
    EXPECT_EQ(dir.Read("a.gif"), "GIF\r\n89");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.gif", "b.bin"}));
  }
}

TEST(ReadMultipartInput, LargeFileOverManyReadsStoredByteForByte) {
  // 100,000 bytes span four reads; content that ends like a line break
  // and starts like the boundary must not cut it short.
  std::string content = Bytes(100000) + "\r\n--AaB03";
  for (size_t piece : {size_t{kReadSize}, size_t{4093}, size_t{1}}) {
    TestDirectory dir;
    Outcome run =
        Read(dir, FilePart("f", "big.bin", content) + Closing(), piece);
    EXPECT_EQ(run.code, kUploadDone);
    EXPECT_EQ(dir.Read("big.bin"), content);
  }
}

TEST(ReadMultipartInput, EmptyFileInputIsAFieldAndCountsForServerName) {
  TestDirectory dir;
  std::string body = FilePart("one", "a.txt", "1") + FilePart("two", "", "") +
                     FilePart("three", "c.txt", "3") + Closing();
  Outcome run = Read(dir, body, 7, "ServerName1=new.txt&ServerName3=third.txt");
  EXPECT_EQ(run.code, kUploadDone);
  ASSERT_EQ(run.state.form_items.size(), 1u);
  EXPECT_EQ(run.state.form_items[0].Name, "two");
  EXPECT_EQ(run.state.form_items[0].Value, "");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"new.txt", "third.txt"}));
}

TEST(ReadMultipartInput, ExtensionOfTheClientNameDecides) {
  struct Case {
    std::string client_name;
    std::string query;
    std::vector<std::string> allowed;
    int16_t code;
  };
  const Case cases[] = {
      {"photo.GIF", "", {"gif"}, kUploadDone},
      {"notes.txt", "", {"gif"}, kFileRefused},
      {"a.gif", "ServerName1=a.exe", {"gif"}, kUploadDone},
      {"gif", "", {"gif"}, kUploadDone},  // no dot: the whole name
      {"a.", "", {"gif"}, kFileRefused},
      {"a.", "", {"*"}, kUploadDone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.client_name);
    TestDirectory dir;
    std::string body = FilePart("f", c.client_name, "x") +
                       TextPart("after", "kept") + Closing();
    Outcome run = Read(dir, body, kReadSize, c.query, {}, c.allowed);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.state.form_items.size(), 1u);
    EXPECT_EQ(run.state.uploaded_files.size(), c.code == kUploadDone ? 1u : 0u);
  }
}

TEST(ReadMultipartInput, OverrideWithARefusedExtensionKeepsTheBrowserName) {
  for (const char* query : {"ServerName1=shell.php", "ServerName1=.htaccess",
                            "ServerName1=x.GIF.php"}) {
    SCOPED_TRACE(query);
    TestDirectory dir;
    Outcome run = Read(dir, FilePart("f", "a.gif", "x") + Closing(), kReadSize,
                       query, {}, {"gif"});
    EXPECT_EQ(run.code, kUploadDone);
    EXPECT_EQ(dir.Names(), std::set<std::string>{"a.gif"});
  }
}

TEST(ReadMultipartInput, BoundaryTextInsideALineIsContent) {
  std::string content = "head--AaB03xtail\r\nx--AaB03x--\r\n";
  std::string body = FilePart("f", "a.bin", content) + Closing();
  for (size_t piece : PieceSizes(body.size())) {
    SCOPED_TRACE(piece);
    TestDirectory dir;
    Outcome run = Read(dir, body, piece);
    EXPECT_EQ(run.code, kUploadDone);
    EXPECT_EQ(dir.Read("a.bin"), content);
  }
}

TEST(ReadMultipartInput, NamesThatLeaveTheDirectoryAreRefused) {
  for (std::string name : {"..", ".", "a/..", "x\x01.txt", "dir\\"}) {
    SCOPED_TRACE(name);
    TestDirectory dir;
    Outcome run = Read(dir, FilePart("f", name, "x") + Closing(), kReadSize);
    EXPECT_EQ(run.code, kFileRefused);
    EXPECT_TRUE(dir.Names().empty());
  }
}

TEST(ReadMultipartInput, QuotaRefusalKeepsEarlierFilesAndTheOldFile) {
  TestDirectory dir;
  dir.Put("b.txt", "old");
  std::string body = FilePart("f", "a.txt", std::string(600, 'a')) +
                     FilePart("g", "b.txt", std::string(500, 'b')) + Closing();
  Outcome run = Read(dir, body, 100, {}, int64_t{1000});
  EXPECT_EQ(run.code, kQuotaExceeded);
  EXPECT_EQ(run.state.remaining_quota, 400);
  ASSERT_EQ(run.state.uploaded_files.size(), 1u);
  EXPECT_EQ(dir.Read("b.txt"), "old");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST(ReadMultipartInput, ReplacedFileGivesItsBytesBack) {
  TestDirectory dir;
  dir.Put("a.txt", std::string(500, 'o'));
  Outcome run =
      Read(dir, FilePart("f", "a.txt", std::string(800, 'n')) + Closing(),
           kReadSize, {}, int64_t{400});
  EXPECT_EQ(run.code, kUploadDone);
  EXPECT_EQ(run.state.remaining_quota, 100);
}

TEST(ReadMultipartInput, BodyEndingEarlyKeepsTheOldFileAndNoTemporary) {
  std::string body = FilePart("f", "a.txt", "new one") +
                     FilePart("g", "b.txt", std::string(70000, 'n')) +
                     Closing();
  // Cut by CONTENT_LENGTH, or by an input that closes before it.
  for (bool by_length : {true, false}) {
    TestDirectory dir;
    dir.Put("b.txt", "old");
    std::string sent = by_length ? body.substr(0, 50000) : body;
    size_t stop = by_length ? std::string::npos : 50000;
    Outcome run = Read(dir, sent, kReadSize, {}, {}, {"*"}, stop);
    EXPECT_EQ(run.code, kBodyFailed);
    EXPECT_EQ(run.state.uploaded_files.size(), 1u);
    EXPECT_EQ(dir.Read("b.txt"), "old");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt", "b.txt"}));
  }
}

TEST(ReadMultipartInput, InputClosedEarlyIsNotAskedAgain) {
  TestDirectory dir;
  std::string body = FilePart("f", "a.txt", "x");
  UploadRequest request{std::string(kBoundary), dir.Path(), 1 << 30, {}, {"*"}};
  Feed feed{body, 5};
  UploadState state;
  EXPECT_EQ(ReadMultipartInput(request, std::ref(feed), state), kBodyFailed);
  EXPECT_LE(feed.reads, body.size() / 5 + 2);
}

TEST(ReadMultipartInput, BrokenBodiesGiveMinusSeven) {
  const std::string bodies[] = {
      "no boundary at all",
      std::string(kBoundary) + "\r\nContent-Disposition: form-data; name=\"a\"",
      std::string(kBoundary) + "\r\nname=\"open\r\n\r\nx\r\n" + Closing(),
      std::string(kBoundary) + "\r\nname=\"a\"\r\n\r\n" + Closing(),
      std::string(kBoundary) + "-",
  };
  for (const auto& body : bodies) {
    SCOPED_TRACE(body);
    TestDirectory dir;
    EXPECT_EQ(Read(dir, body, 3).code, kBodyFailed);
    EXPECT_TRUE(dir.Names().empty());
  }
}

TEST(ReadMultipartInput, ClosingBoundaryWithOrWithoutLineBreak) {
  for (std::string end : {"", "\r\n", "\r\nepilogue"}) {
    TestDirectory dir;
    std::string body = TextPart("a", "1") + std::string(kBoundary) + "--" + end;
    EXPECT_EQ(Read(dir, body, 2).code, kUploadDone);
  }
}

TEST(ReadMultipartInput, AReadOnlyOldFileStaysWithMinusEight) {
  TestDirectory dir;
  dir.Put("a.txt", "previous");
  ::chmod((dir / "a.txt").c_str(), 0444);
  Outcome run = Read(dir,
                     FilePart("f", "b.txt", "new b") +
                         FilePart("f", "a.txt", "new a") + Closing(),
                     kReadSize);
  EXPECT_EQ(run.code, kFileAccessFailed);
  EXPECT_NE(run.state.failure.find(dir / "a.txt"), std::string::npos)
      << run.state.failure;
  EXPECT_EQ(dir.Read("a.txt"), "previous");
  EXPECT_EQ(dir.Read("b.txt"), "new b");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt", "b.txt"}));
}

TEST(ReadMultipartInput, NoNameShowsWhileAFileIsWritten) {
  // What the directory shows between reads is what a process killed there
  // would leave behind.
  TestDirectory dir;
  std::string body = FilePart("f", "a.bin", Bytes(100000)) + Closing();
  UploadRequest request{std::string(kBoundary),
                        dir.Path(),
                        static_cast<int64_t>(body.size()),
                        {},
                        {"*"}};
  Feed feed{body, 4096};
  std::set<std::string> seen;
  auto read = [&](char* buffer, size_t count) {
    for (const auto& name : dir.Names()) seen.insert(name);
    return feed(buffer, count);
  };
  UploadState state;
  EXPECT_EQ(ReadMultipartInput(request, read, state), kUploadDone);
  EXPECT_EQ(seen, std::set<std::string>{});
  EXPECT_EQ(dir.Names(), std::set<std::string>{"a.bin"});
}

TEST(ReadMultipartInput, WriteFailuresDiscardThePart) {
  struct Case {
    int32_t budget;  // bytes the disk takes; -1 refuses every file
    int16_t code;
  };
  for (Case c : {Case{-1, kFileAccessFailed}, Case{10, kBodyFailed}}) {
    TestDirectory dir;
    dir.Put("a.txt", "old");
    std::unique_ptr<platform::FileSystem> faulty;
    if (c.budget < 0) {
      faulty = std::make_unique<RefusingWrites>(platform::Files());
    } else {
      faulty = std::make_unique<FillingDisk>(platform::Files(), c.budget);
    }
    platform::ScopedFileSystem scoped(*faulty);
    Outcome run =
        Read(dir, FilePart("f", "a.txt", Bytes(50000)) + Closing(), kReadSize);
    EXPECT_EQ(run.code, c.code);
    EXPECT_FALSE(run.state.failure.empty());
    EXPECT_EQ(dir.Read("a.txt"), "old");
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt"}));
  }
}

// Faults found by a hostile probe: each case failed before its mend.
TEST(ReadMultipartInput, UpperCaseFileNameCountsForServerName) {
  TestDirectory dir;
  std::string body = std::string(kBoundary) +
                     "\r\nContent-Disposition: form-data; NAME=\"f\"; "
                     "FILENAME=\"a.txt\"\r\n\r\nx\r\n" +
                     Closing();
  Outcome run = Read(dir, body, kReadSize, "ServerName1=new.txt");
  EXPECT_EQ(run.code, kUploadDone);
  EXPECT_EQ(dir.Names(), std::set<std::string>{"new.txt"});
}

TEST(ReadMultipartInput, BoundaryTextWithMoreOnItsLineIsContent) {
  // Only "--" or blanks and CR LF may follow a delimiter; transport
  // padding is allowed.
  std::string content = "line\r\n--AaB03xabc\r\n--AaB03x-x\r\nend";
  std::string body = FilePart("f", "a.bin", content);
  body.insert(kBoundary.size(), " \t ");
  body += std::string(kBoundary) + "  \r\n" +
          "Content-Disposition: form-data; name=\"t\"\r\n\r\nv\r\n" + Closing();
  for (size_t piece : PieceSizes(body.size())) {
    SCOPED_TRACE(piece);
    TestDirectory dir;
    dir.Put("a.bin", "old");
    Outcome run = Read(dir, body, piece);
    EXPECT_EQ(run.code, kUploadDone);
    EXPECT_EQ(dir.Read("a.bin"), content);
    ASSERT_EQ(run.state.form_items.size(), 1u);
    EXPECT_EQ(run.state.form_items[0].Value, "v");
  }
}

TEST(ReadMultipartInput, QuotaRefusesWhileTheFileIsWritten) {
  // The disk takes 2,000 bytes: a file checked only once written whole
  // would fill it (-7) instead of being refused by the quota.
  TestDirectory dir;
  dir.Put("a.bin", "old");
  FillingDisk disk(platform::Files(), 2000);
  platform::ScopedFileSystem scoped(disk);
  Outcome run = Read(dir,
                     FilePart("f", "a.bin", Bytes(50000)) +
                         TextPart("after", "read") + Closing(),
                     4096, {}, int64_t{1000});
  EXPECT_EQ(run.code, kQuotaExceeded);
  EXPECT_EQ(run.state.remaining_quota, 1000);
  EXPECT_EQ(run.state.form_items.size(), 1u);
  EXPECT_EQ(dir.Names(), std::set<std::string>{"a.bin"});
  EXPECT_EQ(dir.Read("a.bin"), "old");
}

TEST(ReadMultipartInput, FieldValueKeptUpToItsBound) {
  TestDirectory dir;
  std::string body = TextPart("t", std::string(5000, 'v')) + Closing();
  UploadRequest request{std::string(kBoundary),
                        dir.Path(),
                        static_cast<int64_t>(body.size()),
                        {},
                        {"*"},
                        100};
  Feed feed{body, 333};
  UploadState state;
  EXPECT_EQ(ReadMultipartInput(request, std::ref(feed), state), kUploadDone);
  ASSERT_EQ(state.form_items.size(), 1u);
  EXPECT_EQ(state.form_items[0].Value, std::string(100, 'v'));
}

}  // namespace
}  // namespace corvane::wharfpost

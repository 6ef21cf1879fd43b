// SPDX-License-Identifier: Apache-2.0
#include "upload/MultipartReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "upload/tests/TestDirectory.h"
#include "upload/tests/UploadPage.h"

namespace corvane::cargane {
namespace {

using testing::FilePart;
using testing::kClosing;
using testing::TestDirectory;
using testing::TextPart;

// A request whose body arrives in pieces of at most `piece` bytes, as a
// slow client's does; it records the largest count asked for.
class PieceRequest : public Request {
 public:
  PieceRequest(std::string body, size_t piece)
      : body_(std::move(body)), piece_(piece) {}

  int32_t TotalBytes() override { return static_cast<int32_t>(body_.size()); }
  Variant BinaryRead(Variant& count) override {
    auto asked = static_cast<size_t>(std::max(count.ToInt32(), 0));
    largest_ask = std::max(largest_ask, asked);
    ++reads;
    size_t n = std::min({asked, piece_, body_.size() - at_});
    std::string bytes = body_.substr(at_, n);
    at_ += n;
    count = static_cast<int32_t>(n);
    return Bytes{std::move(bytes)};
  }
  std::string ServerVariables(std::string_view name) override {
    return name == "CONTENT_TYPE" ? testing::kContentType : "";
  }
  std::string QueryString() override { return {}; }

  size_t largest_ask = 0;
  size_t reads = 0;

 private:
  std::string body_;
  size_t piece_;
  size_t at_ = 0;
};

class PieceContext : public ScriptingContext {
 public:
  explicit PieceContext(std::shared_ptr<PieceRequest> request)
      : request_(std::move(request)) {}
  std::shared_ptr<corvane::Request> Request() override { return request_; }
  std::shared_ptr<corvane::Response> Response() override {
    return MemoryContext::New()->Response();
  }

 private:
  std::shared_ptr<PieceRequest> request_;
};

std::string Content(size_t count) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
  }
  return bytes;
}

// Cargane through a host that delivers the body in pieces of every size:
// the same files, fields and code each time.
TEST(CarganePieces, SameOutcomeInPiecesOfEverySize) {
  std::string body = "preamble\r\n" +
                     FilePart("f1", "C:\\d\\a.gif", "GIF\r\n") +
                     TextPart("title", "--AaB03x inside\r\n--AaB03xx") +
                     FilePart("f2", "b.bin", "") + kClosing;
  for (size_t piece = 1; piece <= body.size() + 1; ++piece) {
    SCOPED_TRACE(piece);
    TestDirectory dir;
    testing::Page page(dir.Path());
    auto request = std::make_shared<PieceRequest>(body, piece);
    page.object->OnStartPage(std::make_shared<PieceContext>(request));
    EXPECT_EQ(page.object->Upload(), kUploadDone);
    EXPECT_EQ(page.Files(), (std::vector<testing::StoredRecord>{
                                {"a.gif", "f1", 5}, {"b.bin", "f2", 0}}));
    EXPECT_EQ(page.Items(), (std::vector<std::pair<std::string, std::string>>{
                                {"title", "--AaB03x inside\r\n--AaB03xx"}}));
    EXPECT_EQ(dir.Read("a.gif"), "GIF\r\n");
  }
}

// A body of several megabytes is asked of the host in bounded pieces and
// stored byte for byte.
TEST(CarganePieces, LargeBodyIsReadInBoundedPieces) {
  std::string content = Content(3 * 1024 * 1024 + 17);
  std::string body = FilePart("f", "big.bin", content) + kClosing;
  TestDirectory dir;
  testing::Page page(dir.Path());
  auto request = std::make_shared<PieceRequest>(body, body.size());
  page.object->OnStartPage(std::make_shared<PieceContext>(request));
  EXPECT_EQ(page.object->Upload(), kUploadDone);
  EXPECT_EQ(dir.Read("big.bin"), content);
  EXPECT_LE(request->largest_ask, size_t{65536});
  EXPECT_GE(request->reads, body.size() / 65536);
}

// Records what the reader hands over, for the reader's own tests.
struct Recorder : MultipartResults {
  std::vector<StoredFile> files;
  std::vector<FormField> fields;
  void AddFile(const StoredFile& file,
               const std::function<void()>& put_in_place) override {
    put_in_place();
    files.push_back(file);
  }
  void AddField(FormField field) override { fields.push_back(field); }
};

struct Outcome {
  int16_t code = 0;
  std::vector<BodyFault> faults;
  Recorder results;
  size_t largest_ask = 0;
};

Outcome Read(const TestDirectory& dir, const std::string& body, size_t piece,
             std::optional<int64_t>& quota, int32_t max_file_bytes = -1) {
  Outcome run;
  size_t at = 0;
  BodyInput input = [&](char* buffer, size_t count) {
    run.largest_ask = std::max(run.largest_ask, count);
    size_t n = std::min({count, piece, body.size() - at});
    body.copy(buffer, n, at);
    at += n;
    return n;
  };
  MultipartOptions options;
  options.delimiter = "--AaB03x";
  options.directory = dir.Path();
  options.extension_allowed = [](std::string_view) { return true; };
  options.max_file_bytes = max_file_bytes;
  options.read_size = 4096;
  options.on_fault = [&run](BodyFault fault) -> std::optional<Failure> {
    run.faults.push_back(fault);
    return StandardFailure(kInvalidCall);
  };
  try {
    MultipartReader reader(std::move(options), input,
                           static_cast<int64_t>(body.size()), run.results,
                           quota);
    run.code = reader.Run();
  } catch (const Failure&) {
    run.code = kUploadFailed;
  }
  return run;
}

TEST(MultipartReader, EachBrokenBodyNamesItsFault) {
  std::string header =
      "--AaB03x\r\nContent-Disposition: form-data; name=\"f\"; "
      "filename=\"a.txt\"\r\n\r\n";
  const struct {
    std::string body;
    std::vector<BodyFault> faults;
  } cases[] = {
      {"no delimiter at all", {BodyFault::kNoDelimiter}},
      {"--AaB03x", {BodyFault::kEndsAfterDelimiter}},
      {"--AaB03x\r\nContent-Disposition: form-data",
       {BodyFault::kEndsInHeader}},
      {"--AaB03x\r\nX: " + std::string(kLongestHeader + 10, 'x'),
       {BodyFault::kHeaderTooLong}},
      {header + "--AaB03x--", {BodyFault::kNoLineBreak}},
      {header + "cut short", {BodyFault::kEndsInContent}},
      // A body that ends right after a header is no fault: it ends with the
      // code reached so far.
      {header, {}},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
      SCOPED_TRACE(c.body.substr(0, 60) + " / " + std::to_string(piece));
      TestDirectory dir;
      std::optional<int64_t> quota;
      Outcome run = Read(dir, c.body, piece, quota);
      EXPECT_EQ(run.faults, c.faults);
      EXPECT_EQ(run.code, kUploadFailed);
      // A part cut off keeps nothing, not even a temporary file.
      EXPECT_TRUE(dir.Names().empty());
    }
  }
}

TEST(MultipartReader, FileOverItsLimitIsRefusedWhileStreaming) {
  std::string big = Content(20000);
  std::string body = FilePart("f", "big.bin", big) +
                     FilePart("g", "small.bin", "12345") + kClosing;
  const struct {
    std::optional<int64_t> quota;
    int32_t max_file_bytes;
    std::optional<int64_t> quota_after;
  } cases[] = {
      {int64_t{10000}, -1, int64_t{9995}},  // over the quota
      {std::nullopt, 19999, std::nullopt},  // over the per-file limit
  };
  for (const auto& c : cases) {
    TestDirectory dir;
    std::optional<int64_t> quota = c.quota;
    Outcome run = Read(dir, body, 4096, quota, c.max_file_bytes);
    EXPECT_EQ(run.code, kQuotaExceeded);
    ASSERT_EQ(run.results.files.size(), 1u);
    EXPECT_EQ(run.results.files[0].FileName, "small.bin");
    EXPECT_EQ(dir.Names(), std::set<std::string>{"small.bin"});
    EXPECT_EQ(quota, c.quota_after);
    EXPECT_LE(run.largest_ask, size_t{4096});
  }
  // A file of exactly the limit is kept.
  TestDirectory dir;
  std::optional<int64_t> quota = int64_t{20005};
  EXPECT_EQ(Read(dir, body, 4096, quota, 20000).code, kUploadDone);
  EXPECT_EQ(quota, 0);
}

// A part's file takes a free name at once; a file that appears under that
// name while the part is written is replaced as any earlier file is, or
// stays when it is read-only. No temporary file is left either way.
TEST(PendingFilePlacement, NameTakenMeanwhileIsReplacedOrRefused) {
  TestDirectory dir;
  {
    PendingFile free_name(dir.Path(), dir / ".t.1", dir / "a.txt");
    free_name.Write("new a");
    EXPECT_EQ(free_name.Close(), 5);
    free_name.Commit();
  }
  EXPECT_EQ(dir.Read("a.txt"), "new a");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a.txt").c_str(), &st), 0);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

  {
    PendingFile taken(dir.Path(), dir / ".t.2", dir / "b.txt");
    taken.Write("new b");
    dir.Put("b.txt", "appeared");
    taken.Close();
    taken.Commit();
  }
  EXPECT_EQ(dir.Read("b.txt"), "new b");

  {
    PendingFile refused(dir.Path(), dir / ".t.3", dir / "c.txt");
    refused.Write("new c");
    dir.Put("c.txt", "read-only");
    ::chmod((dir / "c.txt").c_str(), 0444);
    refused.Close();
    try {
      refused.Commit();
      ADD_FAILURE() << "a read-only file was replaced";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number, kPathFileAccessError);
      EXPECT_NE(failure.description.find(dir / "c.txt"), std::string::npos);
    }
  }
  EXPECT_EQ(dir.Read("c.txt"), "read-only");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
}

}  // namespace
}  // namespace corvane::cargane

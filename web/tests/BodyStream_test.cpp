// SPDX-License-Identifier: Apache-2.0
#include "web/BodyStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "web/HttpHost.h"

namespace corvane::web {
namespace {

// Bytes that show their own position, so that a lost, doubled or reordered
// piece shows.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t n = 0; n < size; ++n) bytes[n] = static_cast<char>(n * 31 / 7);
  return bytes;
}

// A reader as the HTTP library gives it: the body pushed in pieces of
// `piece` bytes, up to `cut` bytes of it (then false, as for a dropped
// connection). Counts the bytes the receiver took.
struct FakeReader {
  std::string body;
  size_t piece = 4096;
  size_t cut = SIZE_MAX;
  std::atomic<size_t> pushed = 0;
  std::atomic<bool> refused = false;

  httplib::ContentReader Reader() {
    return httplib::ContentReader(
        [this](httplib::ContentReceiver receive) {
          for (size_t at = 0; at < body.size(); at += piece) {
            if (at >= cut) return false;
            size_t size = std::min(piece, body.size() - at);
            if (!receive(body.data() + at, size)) {
              refused = true;
              return false;
            }
            pushed += size;
          }
          return true;
        },
        [](httplib::MultipartContentHeader, httplib::ContentReceiver) {
          return false;
        });
  }
};

TEST(BodyStream, ThePageReadsTheBodyInOrderInThePiecesItAsksFor) {
  FakeReader fake{.body = Pattern(3 << 20)};
  auto reader = fake.Reader();
  BodyStream stream(reader, fake.body.size());
  EXPECT_EQ(stream.Left(), fake.body.size());
  std::string head = stream.Read(100);
  stream.Unread(head.substr(50));
  EXPECT_EQ(stream.Left(), fake.body.size() - 50);
  std::string read = head.substr(0, 50);
  char piece[65536];
  // Pieces the size of the page's reads, whatever the sizes pushed.
  while (size_t got = stream.ReadSome(piece, sizeof piece)) {
    EXPECT_LE(got, sizeof piece);
    read.append(piece, got);
  }
  EXPECT_TRUE(read == fake.body);
  EXPECT_EQ(stream.Left(), 0u);
  EXPECT_TRUE(stream.Finish());
}

TEST(BodyStream, NoMoreThanTheBufferIsHeldAheadOfThePage) {
  FakeReader fake{.body = Pattern(16 << 20)};
  auto reader = fake.Reader();
  BodyStream stream(reader, fake.body.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_LE(fake.pushed, BodyStream::kBufferBytes + fake.piece);
  // What the page leaves is read and dropped; the body came whole.
  EXPECT_EQ(stream.Read(10), fake.body.substr(0, 10));
  EXPECT_TRUE(stream.Finish());
  EXPECT_EQ(fake.pushed, fake.body.size());
}

TEST(BodyStream, ABodyCutShortEndsTheReadsAndIsNotWhole) {
  FakeReader fake{.body = Pattern(1 << 20), .cut = 300000};
  auto reader = fake.Reader();
  BodyStream stream(reader, fake.body.size());
  std::string read = stream.Read(fake.body.size());
  EXPECT_TRUE(read == fake.body.substr(0, read.size()));
  EXPECT_LT(read.size(), fake.body.size());
  EXPECT_EQ(stream.Left(), 0u);
  EXPECT_FALSE(stream.Finish());

  // More bytes than the stated length are refused.
  FakeReader longer{.body = Pattern(10000)};
  auto long_reader = longer.Reader();
  BodyStream short_stream(long_reader, 5000);
  std::string taken = short_stream.Read(100000);
  EXPECT_LE(taken.size(), 5000u);
  EXPECT_TRUE(taken == longer.body.substr(0, taken.size()));
  EXPECT_FALSE(short_stream.Finish());
}

TEST(BodyStream, AStreamLeftUnfinishedStopsTheReader) {
  FakeReader fake{.body = Pattern(16 << 20)};
  auto reader = fake.Reader();
  {
    BodyStream stream(reader, fake.body.size());
    EXPECT_EQ(stream.Read(5), fake.body.substr(0, 5));
  }
  EXPECT_TRUE(fake.refused);
  EXPECT_LT(fake.pushed, fake.body.size());
}

TEST(BodyStream, ThePagesRequestTakesTheBodyWholeOrInPieces) {
  httplib::Request request;
  request.method = "POST";
  request.path = "/upload";
  request.headers = {{"Content-Type", "multipart/form-data; boundary=b"}};
  FakeReader fake{.body = Pattern(200000)};
  for (int32_t each : {200000, 65536, 7}) {
    auto reader = fake.Reader();
    BodyStream stream(reader, fake.body.size());
    auto page = HttpContext::New(request, {"h", 1}, stream)->Request();
    EXPECT_EQ(page->TotalBytes(), 200000);
    EXPECT_EQ(page->ServerVariables("CONTENT_LENGTH"), "200000");
    std::string read;
    for (;;) {
      Variant count = each;
      std::string piece = page->BinaryRead(count).ToBytes().data;
      EXPECT_EQ(count.ToInt32(), static_cast<int32_t>(piece.size()));
      if (piece.empty()) break;
      EXPECT_LE(piece.size(), static_cast<size_t>(each));
      read += piece;
    }
    EXPECT_TRUE(read == fake.body) << each;
    EXPECT_TRUE(stream.Finish());
  }
}

}  // namespace
}  // namespace corvane::web

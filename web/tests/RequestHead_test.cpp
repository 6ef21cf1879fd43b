// SPDX-License-Identifier: Apache-2.0
#include "web/RequestHead.h"

#include <gtest/gtest.h>

namespace corvane::web {
namespace {

constexpr HeadLimits kSmall{/*max_line=*/40, /*max_fields=*/3,
                            /*max_bytes=*/120};

// The scan of `head` fed in pieces of `piece` bytes, the buffer growing.
HeadScan ScanInPieces(std::string_view head, size_t piece) {
  HeadScanner scanner(kSmall);
  std::string buffer;
  HeadScan scan;
  for (size_t at = 0; at < head.size(); at += piece) {
    buffer.append(head.substr(at, piece));
    scan = scanner.Scan(buffer);
    if (scan.state != HeadScan::kIncomplete) break;
  }
  return scan;
}

TEST(HeadScanner, DecidesAsTheHeadArrivesWhateverThePieces) {
  struct Case {
    const char* what;
    std::string head;
    HeadScan::State state;
    int status;
    size_t length;
  };
  const std::string ok = "GET / HTTP/1.1\r\nHost: a\r\n\r\n";
  const std::string full = "GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n";
  const Case cases[] = {
      {"a whole head", ok + "BODY", HeadScan::kComplete, 0, ok.size()},
      {"no blank line yet", "GET / HTTP/1.1\r\nHost: a\r\n",
       HeadScan::kIncomplete, 0, 0},
      {"a bare LF is a line, not the end", "GET / HTTP/1.1\r\nA: 1\n\nB: 2\r\n",
       HeadScan::kIncomplete, 0, 0},
      {"fields at the bound", full, HeadScan::kComplete, 0, full.size()},
      {"no fields", "GET / HTTP/1.0\r\n\r\n", HeadScan::kComplete, 0, 18},
      {"an empty request line is a line (the server answers 400)", "\r\n\r\n",
       HeadScan::kComplete, 0, 4},
      {"one field too many, before any blank line",
       "GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n", HeadScan::kRefused,
       431, 0},
      {"empty lines count", "GET / HTTP/1.1\r\n\n\n\n\n", HeadScan::kRefused,
       431, 0},
      {"a field line too long, its end never sent",
       "GET / HTTP/1.1\r\nX: " + std::string(60, 'x'), HeadScan::kRefused, 431,
       0},
      {"a request line too long", "GET /" + std::string(60, 'x'),
       HeadScan::kRefused, 414, 0},
      {"a head too large in all",
       "GET / HTTP/1.1\r\nA: " + std::string(36, 'a') + "\r\nB: " +
           std::string(36, 'b') + "\r\nC: " + std::string(36, 'c') + "\r\n",
       HeadScan::kRefused, 431, 0},
  };
  for (const auto& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, c.head.size()}) {
      HeadScan scan = ScanInPieces(c.head, piece);
      EXPECT_EQ(scan.state, c.state) << c.what << ", pieces of " << piece;
      EXPECT_EQ(scan.status, c.status) << c.what;
      EXPECT_EQ(scan.length, c.length) << c.what;
    }
  }
}

TEST(HeadScanner, ResetStartsTheNextHead) {
  HeadScanner scanner(kSmall);
  std::string buffer = "GET /a HTTP/1.1\r\nHost: a\r\n\r\n";
  EXPECT_EQ(scanner.Scan(buffer).length, buffer.size());
  // Once decided, further bytes change nothing until Reset.
  buffer += "GET /b HTTP/1.1\r\n";
  EXPECT_EQ(scanner.Scan(buffer).length, buffer.size() - 17);
  buffer.erase(0, buffer.size() - 17);
  scanner.Reset();
  EXPECT_EQ(scanner.Scan(buffer).state, HeadScan::kIncomplete);
}

}  // namespace
}  // namespace corvane::web

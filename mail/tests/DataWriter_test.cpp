// SPDX-License-Identifier: Apache-2.0
#include "mail/DataWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace corvane::penrill {
namespace {

// What a writer hands on, joined, and the size of each piece.
struct Wire {
  std::string text;
  std::vector<size_t> pieces;
  DataWriter::Flush Flush() {
    return [this](std::string_view piece) {
      text += piece;
      pieces.push_back(piece.size());
    };
  }
};

// The rules hold across the seam between two pieces as within one: a CR at
// the end of one and its LF at the start of the next, a "." that begins a
// line at the start of a piece.
TEST(DataWriter, PiecesGiveTheTextOfTheWhole) {
  const std::string texts[] = {
      "a\r\n.\r\nb",   "a\r\n..x\r\n.y", "\r\n.\r\n.\r\n", "a\n.\nRCPT",
      "a\r.\rb",       "x\n\r\n.y",      "a\r\r\nb\n",     ".start\r\n.",
      "plain\r\ntext", "\r\r\r\n\n\n.",
  };
  for (const std::string& text : texts) {
    const std::string whole = DataText(text);
    for (size_t cut = 0; cut <= text.size(); ++cut) {
      Wire wire;
      DataWriter writer(wire.Flush());
      writer.Append(std::string_view(text).substr(0, cut));
      writer.Append(std::string_view(text).substr(cut));
      writer.Finish();
      EXPECT_EQ(wire.text, whole) << text << " cut at " << cut;
    }
  }
}

TEST(DataWriter, Base64RunsAndTheEndOfDataGoAsTheyAre) {
  Wire wire;
  DataWriter writer(wire.Flush());
  writer.Append("Content-Transfer-Encoding: base64\r\n\r\n");
  writer.AppendBase64Lines("QUJD");
  writer.AppendBase64Lines("\r\n");
  writer.AppendBase64Lines("REVG");
  writer.Append("\r\n.");  // a line after the run still gets its dot
  writer.Finish("\r\n.\r\n");
  EXPECT_EQ(wire.text,
            "Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\nREVG\r\n..\r\n."
            "\r\n");
}

// A long text leaves in pieces of about the buffer's size, none lost; a
// run at least that large goes on by itself, without being copied.
TEST(DataWriter, LargeTextsGoInBufferSizedPieces) {
  std::string line = std::string(70, 'x') + "\r\n";
  std::string text;
  while (text.size() < 3 * DataWriter::kBufferSize) text += line;
  std::string run(DataWriter::kBufferSize + 5, 'Q');
  Wire wire;
  DataWriter writer(wire.Flush());
  writer.Append(text);
  writer.AppendBase64Lines(run);
  writer.Finish();
  EXPECT_EQ(wire.text, text + run);
  ASSERT_GE(wire.pieces.size(), 4u);
  EXPECT_EQ(wire.pieces.back(), run.size());
  wire.pieces.pop_back();
  wire.pieces.pop_back();  // the rest of the text, before the run
  for (size_t piece : wire.pieces) {
    EXPECT_LE(piece, DataWriter::kBufferSize);
    EXPECT_GT(piece, DataWriter::kBufferSize - line.size());
  }
}

}  // namespace
}  // namespace corvane::penrill

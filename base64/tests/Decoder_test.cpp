// SPDX-License-Identifier: Apache-2.0
#include "base64/Decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base64/Encoder.h"
#include "base64/Tallowin.h"
#include "base64/tests/Rfc4648Vectors.h"

namespace corvane::tallowin {
namespace {

// The streamed way of the AVX-512 path as a path of its own (it streams
// at any length; DecodeStreamed chooses it for large outputs only).
const DecoderPath* StreamedDecoder() {
  static const DecoderPath streamed{
      "avx512vbmi streamed",
      Avx512Decoder() != nullptr ? Avx512Decoder()->streamed : nullptr};
  return streamed.decode != nullptr ? &streamed : nullptr;
}

std::vector<const DecoderPath*> Decoders() {
  std::vector<const DecoderPath*> paths{&PortableDecoder()};
  if (Avx2Decoder() != nullptr) paths.push_back(Avx2Decoder());
  if (Avx512Decoder() != nullptr) paths.push_back(Avx512Decoder());
  if (StreamedDecoder() != nullptr) paths.push_back(StreamedDecoder());
  return paths;
}

const DecoderPath kReference{"reference", DecodeReference};

// What a path made of `text`, placed `offset` bytes into its buffer: the
// bytes, or the failure as "code@offset". Bytes before the output must be
// untouched, and past the reported count on a success, past the room in
// any case.
std::string Decode(const DecoderPath& path, const std::string& text,
                   size_t offset = 0) {
  std::vector<char> source(offset + text.size());
  std::copy(text.begin(), text.end(), source.data() + offset);
  auto room = static_cast<size_t>(
      Base64DecodeLength(static_cast<int64_t>(text.size())));
  std::string output(offset + room + 16, '\xA5');
  auto* out = reinterpret_cast<unsigned char*>(output.data()) + offset;
  DecodeResult result = path.decode(source.data() + offset, text.size(), out);
  size_t kept = result.count >= 0 ? static_cast<size_t>(result.count) : room;
  for (size_t i = 0; i < offset; ++i) {
    if (output[i] != '\xA5') {
      ADD_FAILURE() << path.name << " wrote " << offset - i
                    << " bytes before its output";
      break;
    }
  }
  for (size_t i = offset + kept; i < output.size(); ++i) {
    if (output[i] != '\xA5') {
      ADD_FAILURE() << path.name << " wrote at " << i - offset << " of room "
                    << room << " with count " << result.count;
      break;
    }
  }
  if (result.count < 0) {
    return std::to_string(result.count) + "@" +
           std::to_string(result.failure_at);
  }
  return output.substr(offset, kept);
}

std::string Lines(const EncoderPath& path, const std::string& input,
                  size_t offset = 0) {
  auto length = static_cast<size_t>(
      Base64EncodeLength(static_cast<int64_t>(input.size())));
  std::vector<unsigned char> source(offset + input.size());
  std::copy(input.begin(), input.end(), source.data() + offset);
  std::string output(offset + length + 1, '#');
  path.lines(source.data() + offset, input.size(), output.data() + offset);
  EXPECT_EQ(output.back(), '#') << path.name << " wrote past the end";
  return output.substr(offset, length);
}

std::string Unbroken(const EncoderPath& path, const std::string& input,
                     size_t offset = 0) {
  std::vector<unsigned char> source(offset + input.size());
  std::copy(input.begin(), input.end(), source.data() + offset);
  std::string output(offset + input.size() / 3 * 4 + 8, '#');
  char* end = path.unbroken(source.data() + offset, input.size(),
                            output.data() + offset);
  return output.substr(offset,
                       static_cast<size_t>(end - output.data()) - offset);
}

std::vector<const EncoderPath*> VectorEncoders() {
  std::vector<const EncoderPath*> paths;
  if (Avx2Path() != nullptr) paths.push_back(Avx2Path());
  if (Avx512Path() != nullptr) paths.push_back(Avx512Path());
  return paths;
}

// Every length up to 3000 bytes, at the alignment length % 64, and every
// alignment for the lengths up to 256.
template <class Check>
void ForEveryLengthAndAlignment(Check check) {
  std::mt19937 random(20261207);
  std::string data(3000 + 64, '\0');
  for (char& c : data) c = static_cast<char>(random());
  for (size_t n = 0; n <= 3000; ++n) {
    for (size_t offset = n <= 256 ? 0 : n % 64;
         offset < (n <= 256 ? 64 : n % 64 + 1); ++offset) {
      check(data.substr(offset, n), offset);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

TEST(Encoder, VectorisedPathsMatchPortableAtEveryLengthAndAlignment) {
  auto paths = VectorEncoders();
  if (paths.empty()) GTEST_SKIP() << "this processor has no vectorised path";
  ForEveryLengthAndAlignment([&](const std::string& input, size_t offset) {
    std::string lines = Lines(PortablePath(), input);
    std::string unbroken = Unbroken(PortablePath(), input);
    for (const EncoderPath* path : paths) {
      ASSERT_EQ(Lines(*path, input, offset), lines)
          << path->name << " n=" << input.size() << " offset=" << offset;
      ASSERT_EQ(Unbroken(*path, input, offset), unbroken)
          << path->name << " n=" << input.size() << " offset=" << offset;
    }
  });
}

// Around the ends of two and three 32-line periods, where the last period
// a path takes and the lines after it meet.
TEST(Encoder, VectorisedLinesMatchPortableAroundSeveralPeriods) {
  std::mt19937 random(1728);
  std::string data(3 * kPeriodInput + 256, '\0');
  for (char& c : data) c = static_cast<char>(random());
  for (const EncoderPath* path : VectorEncoders()) {
    for (size_t periods : {2, 3}) {
      for (size_t n = periods * kPeriodInput - 64;
           n <= periods * kPeriodInput + 192; ++n) {
        const std::string input = data.substr(n % 7, n);
        ASSERT_EQ(Lines(*path, input, n % 64), Lines(PortablePath(), input))
            << path->name << " n=" << n;
      }
    }
  }
}

TEST(Encoder, Avx512PathIsTestedWhereTheProcessorHasIt) {
  if (Avx512Path() == nullptr) GTEST_SKIP() << "no AVX-512 VBMI here";
  EXPECT_EQ(&SelectedPath(), Avx512Path());
  EXPECT_EQ(SelectedDecoder().name, std::string("avx512vbmi"));
}

// Both texts the encoder writes decode back to the input on every path.
TEST(Decoder, EveryPathDecodesWhatTheEncoderWritesAtEveryLengthAndAlignment) {
  auto paths = Decoders();
  ForEveryLengthAndAlignment([&](const std::string& input, size_t offset) {
    for (const std::string& text :
         {Lines(PortablePath(), input), Unbroken(PortablePath(), input)}) {
      ASSERT_EQ(Decode(kReference, text), input) << "n=" << input.size();
      for (const DecoderPath* path : paths) {
        ASSERT_EQ(Decode(*path, text, offset), input)
            << path->name << " n=" << input.size() << " offset=" << offset;
      }
    }
  });
}

TEST(Decoder, Rfc4648Vectors) {
  for (const auto& [bytes, text] : testing::kRfc4648Vectors) {
    for (const DecoderPath* path : Decoders()) {
      EXPECT_EQ(Decode(*path, text), bytes) << path->name;
    }
  }
}

// The line-broken text of `n` bytes of 0x5A ("WlpaWlpa...").
std::string Text(size_t n) {
  return Lines(PortablePath(), std::string(n, '\x5a'));
}

std::string Failure(int code, size_t at) {
  return std::to_string(code) + "@" + std::to_string(at);
}

TEST(Decoder, MalformedTextFailsWithTheFaultAndItsOffsetOnEveryPath) {
  constexpr int kCharacter = BASE64_DECODE_BAD_CHARACTER;
  constexpr int kPadding = BASE64_DECODE_BAD_PADDING;
  constexpr int kBreak = BASE64_DECODE_BAD_LINE_BREAK;
  std::string two = Text(108);  // two full lines
  std::string three = Text(150);
  struct Case {
    std::string text;
    std::string failure;
  } cases[] = {
      // Bytes outside the alphabet, early, deep in a line, and late.
      {"Zm9v YmFy", Failure(kCharacter, 4)},
      {"Zm9v-mFy", Failure(kCharacter, 4)},
      {"Zm9v_mFy", Failure(kCharacter, 4)},
      {std::string("Zm9\0YmFy", 8), Failure(kCharacter, 3)},
      {"Zm9v\x80mFy", Failure(kCharacter, 4)},
      {three.substr(0, 150) + "@" + three.substr(151),
       Failure(kCharacter, 150)},
      {two.substr(0, 10) + "\t" + two.substr(11), Failure(kCharacter, 10)},
      // Padding out of place, missing, too long, with bits under it.
      {"Zg", Failure(kPadding, 2)},
      {"Zg=", Failure(kPadding, 3)},
      {"Zm9", Failure(kPadding, 3)},
      {"Z", Failure(kPadding, 1)},
      {"Z===", Failure(kPadding, 1)},
      {"====", Failure(kPadding, 0)},
      {"Zg===", Failure(kPadding, 4)},
      {"Zg=v", Failure(kPadding, 3)},
      {"Zg==Zm9v", Failure(kPadding, 4)},
      {"Zm8=Zm9v", Failure(kPadding, 4)},
      {"Zh==", Failure(kPadding, 2)},
      {"Zm9=", Failure(kPadding, 3)},
      {"Zm9v=", Failure(kPadding, 4)},
      {two.substr(0, 40) + "=" + two.substr(41), Failure(kPadding, 40)},
      // Line breaks other than CR LF after exactly 72 characters.
      {"Zm9v\r\nYmFy", Failure(kBreak, 4)},
      {"Zm9vYmFy\n", Failure(kBreak, 8)},
      {"\r\nZm9v", Failure(kBreak, 0)},
      {two.substr(0, 72) + "\r\n", Failure(kBreak, 72)},
      {two.substr(0, 72) + "\n" + two.substr(74), Failure(kBreak, 72)},
      {two.substr(0, 72) + "\r" + two.substr(74), Failure(kBreak, 72)},
      {two.substr(0, 72) + "\r\n\r\n" + two.substr(74), Failure(kBreak, 74)},
      {two + "\r\n", Failure(kBreak, 146)},
      {two.substr(0, 72) + "Zm9v" + two.substr(72), Failure(kBreak, 76)},
      {two.substr(0, 68) + "\r\n" + two.substr(72), Failure(kBreak, 68)},
      {two.substr(0, 74) + "Zm9v" + two.substr(74), Failure(kBreak, 146)},
      {three.substr(0, 146) + three.substr(148), Failure(kBreak, 146)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(kReference, c.text), c.failure) << c.text;
    for (const DecoderPath* path : Decoders()) {
      EXPECT_EQ(Decode(*path, c.text), c.failure)
          << path->name << " " << c.text;
    }
  }
}

// Every byte value at every place of a line-broken text: each path fails
// or succeeds exactly as the reference does, and an outside byte is a bad
// character where it stands.
TEST(Decoder, EveryByteAtEveryPlaceMatchesTheReference) {
  std::mt19937 random(4648);
  std::string input(160, '\0');
  for (char& c : input) c = static_cast<char>(random());
  const std::string text = Lines(PortablePath(), input);
  auto paths = Decoders();
  for (size_t at = 0; at < text.size(); ++at) {
    for (int byte = 0; byte < 256; ++byte) {
      std::string changed = text;
      changed[at] = static_cast<char>(byte);
      std::string expected = Decode(kReference, changed);
      bool outside = (byte < '0' && byte != '+' && byte != '/' &&
                      byte != '\r' && byte != '\n') ||
                     byte > 'z' || (byte > '9' && byte < 'A' && byte != '=') ||
                     (byte > 'Z' && byte < 'a');
      if (outside && text[at] != '\r' && text[at] != '\n') {
        ASSERT_EQ(expected, Failure(BASE64_DECODE_BAD_CHARACTER, at)) << byte;
      }
      for (const DecoderPath* path : paths) {
        ASSERT_EQ(Decode(*path, changed), expected)
            << path->name << " byte " << byte << " at " << at;
      }
    }
  }
}

// Texts long enough for the paths' 32-line periods (two of them and a
// rest): a fault at every place, a rest whose lines are not broken, and a
// break at the end, each fail as the reference does.
TEST(Decoder, LongTextsFailAtTheFaultOnEveryPath) {
  std::mt19937 random(2368);
  std::string input(2 * kPeriodInput + 300, '\0');
  for (char& c : input) c = static_cast<char>(random());
  const std::string text = Lines(PortablePath(), input);
  const size_t last_break = text.rfind('\r');
  std::vector<std::string> texts{
      text.substr(0, last_break) + text.substr(last_break + 2), text + "\r\n",
      text.substr(0, 2 * kPeriodOutput) + std::string(100, 'A')};
  for (size_t at = 0; at < text.size(); ++at) {
    for (char byte : {'@', '\r', '='}) {
      texts.push_back(text);
      texts.back()[at] = byte;
    }
  }
  for (const std::string& changed : texts) {
    const std::string expected = Decode(kReference, changed);
    for (const DecoderPath* path : Decoders()) {
      ASSERT_EQ(Decode(*path, changed), expected) << path->name;
    }
  }
}

// Texts of a few blocks and periods, streamed to every place of the output
// within a cache line: the first and last cache lines shared with bytes not
// the output's, and each ending of the last group.
TEST(Decoder, StreamedTextsAtEveryOutputAlignmentMatchTheInput) {
  if (StreamedDecoder() == nullptr) GTEST_SKIP() << "no AVX-512 VBMI here";
  std::mt19937 random(1728);
  std::string data(3 * kPeriodInput + 200, '\0');
  for (char& c : data) c = static_cast<char>(random());
  for (size_t n :
       {3 * kPeriodInput + 2, 3 * kPeriodInput + 100, 3 * kPeriodInput + 197}) {
    const std::string input = data.substr(0, n);
    for (const std::string& text :
         {Lines(PortablePath(), input), Unbroken(PortablePath(), input)}) {
      for (size_t offset = 0; offset < 64; ++offset) {
        ASSERT_EQ(Decode(*StreamedDecoder(), text, offset), input)
            << "n=" << n << " offset=" << offset;
      }
    }
  }
}

// Faults in the first and last blocks and in the rest of streamed texts,
// line-broken and on one line, fail as the reference says at every output
// alignment, writing nothing outside the room.
TEST(Decoder, StreamedTextsFailAsTheReferenceAtEveryOutputAlignment) {
  if (StreamedDecoder() == nullptr) GTEST_SKIP() << "no AVX-512 VBMI here";
  std::mt19937 random(2304);
  std::string input(3 * kPeriodInput + 150, '\0');
  for (char& c : input) c = static_cast<char>(random());
  const std::string lines = Lines(PortablePath(), input);
  const std::string unbroken = Unbroken(PortablePath(), input);
  std::vector<std::string> texts{
      // A rest on one line that looks line-broken, and one that is not.
      unbroken.substr(0, 3 * 2304) + lines.substr(0, 200),
      lines.substr(0, 3 * kPeriodOutput) + unbroken.substr(0, 200)};
  for (const std::string* text : {&lines, &unbroken}) {
    for (size_t at : {size_t{5}, 3 * kPeriodOutput - 1, size_t{3 * 2304 + 3},
                      text->size() - 80, text->size() - 2}) {
      for (char byte : {'@', '\r', '=', '\x80'}) {
        texts.push_back(*text);
        texts.back()[at] = byte;
      }
    }
  }
  for (const std::string& text : texts) {
    const std::string expected = Decode(kReference, text);
    ASSERT_NE(expected.find('@'), std::string::npos) << "not a fault";
    for (size_t offset = 0; offset < 64; ++offset) {
      ASSERT_EQ(Decode(*StreamedDecoder(), text, offset), expected)
          << "offset=" << offset;
    }
  }
}

// As the exported function decodes, streaming outputs from 4 MiB: a text
// of that size decodes, and a fault near its end fails as the reference
// says, at two output alignments.
TEST(Decoder, DecodeStreamedMatchesTheReferenceOnLargeOutputs) {
  static const DecoderPath exported{
      "exported", [](const char* text, size_t length, unsigned char* output) {
        return DecodeStreamed(SelectedDecoder(), text, length, output);
      }};
  std::mt19937 random(4096);
  std::string input((size_t{4} << 20) + 1000, '\0');
  for (char& c : input) c = static_cast<char>(random());
  for (const std::string& text :
       {Lines(SelectedPath(), input), Unbroken(SelectedPath(), input)}) {
    std::string changed = text;
    changed[changed.size() - 100] = '*';
    for (size_t offset : {0, 33}) {
      ASSERT_EQ(Decode(exported, text, offset), input) << offset;
      EXPECT_EQ(Decode(exported, changed, offset),
                Failure(BASE64_DECODE_BAD_CHARACTER, changed.size() - 100));
    }
  }
}

}  // namespace
}  // namespace corvane::tallowin

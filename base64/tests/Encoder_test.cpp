// SPDX-License-Identifier: Apache-2.0
#include "base64/Encoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base64/Tallowin.h"
#include "base64/tests/Rfc4648Vectors.h"

namespace corvane::tallowin {
namespace {

std::string Lines(const EncoderPath& path, const std::string& input,
                  size_t length) {
  // One guard byte past the expected end shows any write beyond it.
  std::string output(length + 1, '#');
  path.lines(reinterpret_cast<const unsigned char*>(input.data()), input.size(),
             output.data());
  EXPECT_EQ(output.back(), '#') << "wrote past the end";
  output.pop_back();
  return output;
}

std::string Unbroken(const EncoderPath& path, const std::string& input) {
  std::string output(input.size() / 3 * 4 + 8, '#');
  char* end =
      path.unbroken(reinterpret_cast<const unsigned char*>(input.data()),
                    input.size(), output.data());
  output.resize(static_cast<size_t>(end - output.data()));
  return output;
}

size_t LinesLength(size_t n) {
  return static_cast<size_t>(Base64EncodeLength(static_cast<int64_t>(n)));
}

std::vector<const EncoderPath*> Paths() {
  std::vector<const EncoderPath*> paths{&PortablePath()};
  if (Avx2Path() != nullptr) paths.push_back(Avx2Path());
  return paths;
}

TEST(Encoder, Rfc4648VectorsOnEveryPath) {
  for (const EncoderPath* path : Paths()) {
    for (const auto& [input, expected] :
         corvane::tallowin::testing::kRfc4648Vectors) {
      EXPECT_EQ(Lines(*path, input, expected.size()), expected) << path->name;
      EXPECT_EQ(Unbroken(*path, input), expected) << path->name;
    }
  }
}

// The vectorised path against the portable one on random data of every
// length up to several lines, at every alignment of the input.
TEST(Encoder, VectorisedPathMatchesPortable) {
  const EncoderPath* avx2 = Avx2Path();
  if (avx2 == nullptr) GTEST_SKIP() << "this processor lacks AVX2";
  std::mt19937 random(20261207);
  std::string data(600 + 32, '\0');
  for (char& c : data) c = static_cast<char>(random());
  for (size_t offset = 0; offset < 32; offset += 7) {
    for (size_t n = 0; n <= 600; ++n) {
      std::string input = data.substr(offset, n);
      ASSERT_EQ(Lines(*avx2, input, LinesLength(n)),
                Lines(PortablePath(), input, LinesLength(n)))
          << "n=" << n;
      ASSERT_EQ(Unbroken(*avx2, input), Unbroken(PortablePath(), input))
          << "n=" << n;
    }
  }
}

// A text large enough to be streamed, written at every alignment of the
// output within a cache line and at lengths that end the last line in
// different places, is byte for byte the portable one, and nothing before
// or after it is touched.
TEST(Encoder, StreamedTextsMatchPortableAtEveryOutputAlignment) {
  std::mt19937 random(20261209);
  std::string data((size_t{4} << 20) + 3000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  // Every path: the AVX-512 one streams by itself, the others through
  // blocks of lines made in the cache.
  std::vector<const EncoderPath*> paths = Paths();
  if (Avx512Path() != nullptr) paths.push_back(Avx512Path());
  for (size_t n : {data.size(), data.size() - 1, data.size() - 2000}) {
    std::string input = data.substr(0, n);
    const auto* bytes = reinterpret_cast<const unsigned char*>(input.data());
    const std::string lines = Lines(PortablePath(), input, LinesLength(n));
    const std::string unbroken = Unbroken(PortablePath(), input);
    for (const EncoderPath* path : paths) {
      for (size_t offset = 0; offset < 64; ++offset) {
        auto check = [&](const std::string& output, const std::string& expected,
                         const char* form) {
          ASSERT_EQ(output.substr(0, offset), std::string(offset, '#')) << form;
          ASSERT_TRUE(output.compare(offset, expected.size(), expected) == 0)
              << path->name << " " << form << " n=" << n
              << " offset=" << offset;
          ASSERT_EQ(output.substr(offset + expected.size()),
                    std::string(64, '#'))
              << form;
        };
        std::string output(offset + lines.size() + 64, '#');
        EncodeLinesStreamed(*path, bytes, n, output.data() + offset);
        check(output, lines, "lines");
        output.assign(offset + unbroken.size() + 64, '#');
        char* end =
            EncodeUnbrokenStreamed(*path, bytes, n, output.data() + offset);
        EXPECT_EQ(end, output.data() + offset + unbroken.size());
        check(output, unbroken, "unbroken");
      }
    }
  }
}

TEST(Encoder, SelectsTheWidestVectorisedPathTheProcessorHas) {
  EXPECT_EQ(&SelectedPath(), Avx512Path() != nullptr ? Avx512Path()
                             : Avx2Path() != nullptr ? Avx2Path()
                                                     : &PortablePath());
}

}  // namespace
}  // namespace corvane::tallowin

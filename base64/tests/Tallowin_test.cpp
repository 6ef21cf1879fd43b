// SPDX-License-Identifier: Apache-2.0
// Calls libtallowin.so as an outside caller does: loaded with dlopen from
// the folder of this program, exports found by their plain names.
#include "base64/Tallowin.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base64/tests/Rfc4648Vectors.h"
#include "platform/Library.h"

namespace {

struct Exports {
  decltype(&Base64Encode) encode = nullptr;
  decltype(&EncodeBase64Buffer) buffer = nullptr;
  decltype(&ReleaseBase64Buffer) release = nullptr;
  decltype(&Base64Decode) decode = nullptr;
};

const Exports& Library() {
  static const Exports exports = [] {
    using corvane::platform::FindExport;
    std::string path =
        corvane::platform::DirectoryOf(corvane::platform::ProgramPath()) +
        "libtallowin.so";
    void* library = corvane::platform::LoadLibrary(path);
    Exports found;
    found.encode = reinterpret_cast<decltype(found.encode)>(
        FindExport(library, "Base64Encode"));
    found.buffer = reinterpret_cast<decltype(found.buffer)>(
        FindExport(library, "EncodeBase64Buffer"));
    found.release = reinterpret_cast<decltype(found.release)>(
        FindExport(library, "ReleaseBase64Buffer"));
    found.decode = reinterpret_cast<decltype(found.decode)>(
        FindExport(library, "Base64Decode"));
    return found;
  }();
  return exports;
}

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Base64Encode into a buffer with guard bytes; returns what it wrote
// (everything up to the first untouched guard byte).
std::string Encode(const std::string& input, int32_t count, size_t room) {
  std::string output(room + 8, '\xAA');
  Library().encode(Bytes(input), count, output.data());
  return output.substr(0, output.find('\xAA'));
}

std::string Buffer(const std::string& input) {
  char* text =
      Library().buffer(Bytes(input), static_cast<int32_t>(input.size()));
  EXPECT_NE(text, nullptr);
  std::string copy = text ? text : "";
  Library().release(text);
  return copy;
}

TEST(TallowinExports, AllAreFound) {
  EXPECT_NE(Library().encode, nullptr);
  EXPECT_NE(Library().buffer, nullptr);
  EXPECT_NE(Library().release, nullptr);
  EXPECT_NE(Library().decode, nullptr);
}

// Base64Decode of `text` into a buffer of Base64DecodeLength bytes: the
// bytes, or the failure as "code@offset".
std::string Decode(const std::string& text) {
  std::string output(static_cast<size_t>(
                         Base64DecodeLength(static_cast<int64_t>(text.size()))),
                     '\0');
  int32_t at = -1;
  int32_t count =
      Library().decode(text.data(), static_cast<int32_t>(text.size()),
                       reinterpret_cast<unsigned char*>(output.data()), &at);
  if (count < 0) return std::to_string(count) + "@" + std::to_string(at);
  return output.substr(0, static_cast<size_t>(count));
}

TEST(TallowinExports, Base64DecodeUndoesBothEncoders) {
  for (const auto& [input, expected] :
       corvane::tallowin::testing::kRfc4648Vectors) {
    EXPECT_EQ(Decode(expected), input);
  }
  std::string input(1000, '\0');
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7);
  EXPECT_EQ(Decode(Encode(input, 1000, 1400)), input);
  EXPECT_EQ(Decode(Buffer(input)), input);
}

TEST(TallowinExports, Base64DecodeNamesTheFaultAndWhereItIs) {
  EXPECT_EQ(Decode("Zm9v!mFy"),
            std::to_string(BASE64_DECODE_BAD_CHARACTER) + "@4");
  EXPECT_EQ(Decode("Zm9vYg="),
            std::to_string(BASE64_DECODE_BAD_PADDING) + "@7");
  EXPECT_EQ(Decode("Zm9v\r\nYmFy"),
            std::to_string(BASE64_DECODE_BAD_LINE_BREAK) + "@4");
  unsigned char byte = 0;
  EXPECT_EQ(Library().decode("Zg==", -1, &byte, nullptr),
            BASE64_DECODE_BAD_ARGUMENT);
  EXPECT_EQ(Library().decode(nullptr, 4, &byte, nullptr),
            BASE64_DECODE_BAD_ARGUMENT);
  EXPECT_EQ(Library().decode(nullptr, 0, nullptr, nullptr), 0);
  EXPECT_STREQ(Base64DecodeFailureText(BASE64_DECODE_BAD_PADDING),
               "bad padding");
}

TEST(TallowinExports, Rfc4648Vectors) {
  for (const auto& [input, expected] :
       corvane::tallowin::testing::kRfc4648Vectors) {
    EXPECT_EQ(Encode(input, static_cast<int32_t>(input.size()), 16), expected);
    EXPECT_EQ(Buffer(input), expected);
  }
}

TEST(TallowinExports, Base64EncodeLengthsAndLineBreaks) {
  struct Case {
    int32_t count;
    size_t length;
    size_t breaks;
  };
  for (Case c : {Case{1, 4, 0}, Case{2, 4, 0}, Case{3, 4, 0}, Case{54, 72, 0},
                 Case{55, 78, 1}, Case{56, 78, 1}, Case{57, 78, 1},
                 Case{108, 146, 1}, Case{109, 152, 2}}) {
    std::string input(static_cast<size_t>(c.count), '\x01');
    std::string text = Encode(input, c.count, 200);
    EXPECT_EQ(text.size(), c.length) << c.count;
    size_t breaks = 0;
    for (size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 1)) {
      EXPECT_EQ((at + 2) % 74, 0u) << "break at " << at;
      ++breaks;
    }
    EXPECT_EQ(breaks, c.breaks) << c.count;
  }
}

TEST(TallowinExports, CountsOfZeroAndBelowWriteNothing) {
  std::string input = "foobar";
  for (int32_t count : {0, -1, -3, INT32_MIN}) {
    EXPECT_EQ(Encode(input, count, 16), "") << count;
  }
  char* empty = Library().buffer(Bytes(input), 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  Library().release(empty);
  // A negative count has no sound buffer size: no buffer at all.
  EXPECT_EQ(Library().buffer(Bytes(input), -1), nullptr);
}

TEST(TallowinExports, HighBitBytesAreUnsigned) {
  std::string input("\xff\xfe\xfd\x80\x81\x82", 6);
  EXPECT_EQ(Encode(input, 6, 16), "//79gIGC");
  EXPECT_EQ(Buffer(input), "//79gIGC");
}

TEST(TallowinExports, EncodeBase64BufferNeverBreaksLines) {
  std::string input(1000, '\x5a');
  std::string text = Buffer(input);
  EXPECT_EQ(text.size(), 1336u);
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  // Same characters as the line-broken text without its breaks.
  std::string lines = Encode(input, 1000, 1400);
  std::string joined;
  for (char c : lines) {
    if (c != '\r' && c != '\n') joined += c;
  }
  EXPECT_EQ(text, joined);
}

TEST(TallowinExports, ReleaseAcceptsNull) { Library().release(nullptr); }

// The minor page faults of this process so far (field 10 of
// /proc/self/stat, after the parenthesised command name).
long MinorFaults() {
  std::ifstream file("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), {});
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  for (int i = 3; i < 10; ++i) fields >> field;
  long faults = 0;
  fields >> faults;
  return faults;
}

// A buffer given back serves the next call that fits in it: encoding piece
// after piece touches no fresh memory. 40 MiB of input (a 53 MiB buffer,
// which the C library maps afresh on every allocation) would fault in
// about 13,000 pages again.
TEST(TallowinExports, EncodeBase64BufferReusesABufferGivenBack) {
  constexpr int32_t kCount = 40 << 20;
  std::string input(kCount, '\x01');
  char* first = Library().buffer(Bytes(input), kCount);
  ASSERT_NE(first, nullptr);
  Library().release(first);
  long before = MinorFaults();
  char* second = Library().buffer(Bytes(input), kCount);
  long faults = MinorFaults() - before;
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second, first);
  EXPECT_LT(faults, 1000);
  EXPECT_EQ(std::string_view(second, 4), "AQEB");
  Library().release(second);
  // While one is out, another call gets a buffer of its own.
  std::string small = "foobar";
  char* third = Library().buffer(Bytes(small), 6);
  char* fourth = Library().buffer(Bytes(small), 6);
  EXPECT_NE(third, fourth);
  EXPECT_STREQ(fourth, "Zm9vYmFy");
  Library().release(third);
  Library().release(fourth);
}

}  // namespace

// SPDX-License-Identifier: Apache-2.0
// corvane base64 [FILE] [--unbroken | --decode]: a file (or standard input)
// as Base64 text on standard output, encoded by libtallowin.so, or Base64
// text decoded by it.
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "base64/TallowinBinding.h"
#include "platform/FileSystem.h"
#include "tools/corvane/Command.h"
#include "tools/corvane/TextCodec.h"

namespace corvane::tool {
namespace {

// Input is encoded in pieces of whole lines (54 bytes each, a multiple of
// 3), so the pieces join into the text of the whole input.
constexpr size_t kPieceBytes = 54 * 65536;

struct Options {
  std::string path = "-";
  bool unbroken = false;
  bool decode = false;
};

// Encodes one piece through the chosen export; the text is appended to
// `text` (which the caller reuses).
class PieceEncoder {
 public:
  PieceEncoder(tallowin::Binding& library, bool unbroken)
      : unbroken_(unbroken) {
    if (unbroken) {
      buffer_ = library.Export<tallowin::EncodeBase64BufferFunction>(
          "EncodeBase64Buffer");
      release_ = library.Export<tallowin::ReleaseBase64BufferFunction>(
          "ReleaseBase64Buffer");
      text_ = {nullptr, release_};
    } else {
      lines_ = library.Base64Encode();
    }
  }

  // The text of `count` bytes; throws std::bad_alloc when Tallowin cannot
  // allocate.
  std::string_view Encode(const char* bytes, size_t count) {
    auto input = reinterpret_cast<const unsigned char*>(bytes);
    auto n = static_cast<int32_t>(count);
    if (unbroken_) {
      text_.reset();  // back to Tallowin first, so that it can be reused
      text_.reset(buffer_(input, n));
      if (!text_) throw std::bad_alloc();
      // The text's length is known: no need to measure or copy it.
      return {text_.get(), (count + 2) / 3 * 4};
    }
    {
      // Sized once for a whole piece, then reused for every piece.
      lines_text_.resize(static_cast<size_t>(Base64EncodeLength(n)));
      lines_(input, n, lines_text_.data());
    }
    return lines_text_;
  }

 private:
  bool unbroken_;
  tallowin::Base64EncodeFunction lines_ = nullptr;
  tallowin::EncodeBase64BufferFunction buffer_ = nullptr;
  tallowin::ReleaseBase64BufferFunction release_ = nullptr;
  std::string lines_text_;
  // The last unbroken text, given back to Tallowin on the next piece.
  std::unique_ptr<char, tallowin::ReleaseBase64BufferFunction> text_{
      nullptr, [](char*) {}};
};

int EncodeStream(std::istream& input, PieceEncoder& encoder, bool unbroken) {
  std::vector<char> piece(kPieceBytes);
  for (bool first = true; input; first = false) {
    input.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    auto got = static_cast<size_t>(input.gcount());
    if (got == 0) break;
    if (!first && !unbroken) std::cout.write("\r\n", 2);
    std::string_view text = encoder.Encode(piece.data(), got);
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  if (input.bad()) {
    std::cerr << "corvane base64: read error\n";
    return 1;
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "corvane base64: write error\n";
    return 1;
  }
  return 0;
}

// Text is decoded in pieces of whole lines of the line-broken form (72
// characters and CR LF) that are also whole groups of the one-line form.
constexpr size_t kLineText = 74;
constexpr size_t kPieceText = kLineText * 4 * 16384;

// Reads up to `size` bytes, fewer only at the end of the input.
size_t ReadFully(std::istream& input, char* buffer, size_t size) {
  size_t got = 0;
  while (got < size && input) {
    input.read(buffer + got, static_cast<std::streamsize>(size - got));
    got += static_cast<size_t>(input.gcount());
  }
  return got;
}

// Decodes Base64 text piece by piece with Tallowin's Base64Decode and writes
// the bytes; the pieces are checked to join as the whole text would decode:
// a one-line text stays on one line, a line-broken one keeps its CR LF after
// every 72 characters, and only the last piece may end in padding. Returns
// the exit status; a failure names the reason and the offset in the text.
class PieceDecoder {
 public:
  explicit PieceDecoder(tallowin::Binding& library)
      : decode_(library.Export<tallowin::Base64DecodeFunction>("Base64Decode")),
        text_(kPieceText + 1),
        bytes_(static_cast<size_t>(Base64DecodeLength(kPieceText))) {}

  int Run(std::istream& input, const std::string& name) {
    size_t offset = 0;  // of the piece in the whole text
    size_t got = ReadFully(input, text_.data(), kPieceText);
    bool lines = got > kLineText && text_[72] == '\r';
    for (;;) {
      // One byte more tells whether this piece is the last.
      bool last = got < kPieceText ||
                  ReadFully(input, text_.data() + kPieceText, 1) == 0;
      if (input.bad()) {
        std::cerr << "corvane base64: read error\n";
        return 1;
      }
      // A piece that is not the last ends in a line break (line-broken
      // text), which joins it to the next and is not decoded with it.
      size_t size = !last && lines ? got - 2 : got;
      int32_t at = 0;
      int32_t count =
          decode_(text_.data(), static_cast<int32_t>(size), bytes_.data(), &at);
      if (count < 0) return Fail(name, count, offset + static_cast<size_t>(at));
      // A later piece decoded as line-broken text, in one-line text.
      if (offset > 0 && !lines && size > kLineText && text_[72] == '\r') {
        return Fail(name, BASE64_DECODE_BAD_LINE_BREAK, offset + 72);
      }
      // A later piece of line-broken text on one line.
      if (lines && size > 72 && text_[72] != '\r') {
        return Fail(name, BASE64_DECODE_BAD_LINE_BREAK, offset + 72);
      }
      if (!last) {
        if (lines && (text_[got - 2] != '\r' || text_[got - 1] != '\n')) {
          return Fail(name, BASE64_DECODE_BAD_LINE_BREAK, offset + got - 2);
        }
        // Padding before the end of the text.
        size_t whole = lines ? got / kLineText * 54 : got / 4 * 3;
        if (static_cast<size_t>(count) != whole) {
          return Fail(name, BASE64_DECODE_BAD_PADDING, offset + got);
        }
      }
      std::cout.write(reinterpret_cast<const char*>(bytes_.data()), count);
      if (last) break;
      offset += got;
      text_[0] = text_[kPieceText];
      got = 1 + ReadFully(input, text_.data() + 1, kPieceText - 1);
    }
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "corvane base64: write error\n";
      return 1;
    }
    return 0;
  }

 private:
  static int Fail(const std::string& name, int32_t code, size_t at) {
    std::cout.flush();
    std::cerr << "corvane base64: " << name
              << " is not Base64: " << Base64DecodeFailureText(code)
              << " at offset " << at << "\n";
    return 1;
  }

  tallowin::Base64DecodeFunction decode_;
  std::vector<char> text_;            // a piece and the byte after it
  std::vector<unsigned char> bytes_;  // its decoded bytes
};

// Whether the input is a directory, which a stream would read as empty.
bool IsDirectory(const std::string& path) {
  try {
    auto info = platform::Files().Stat(path == "-" ? "/dev/stdin" : path);
    return info && (info->attributes & platform::kDirectory) != 0;
  } catch (const Failure&) {
    return false;
  }
}

int Encode(const Options& options) {
  if (IsDirectory(options.path)) {
    std::cerr << "corvane base64: "
              << (options.path == "-" ? "standard input" : options.path)
              << " is a directory, not a file\n";
    return 1;
  }
  try {
    PieceEncoder encoder(Tallowin(), options.unbroken);
    if (options.path == "-") {
      return EncodeStream(std::cin, encoder, options.unbroken);
    }
    std::ifstream file(options.path, std::ios::binary);
    if (!file) {
      std::cerr << "corvane base64: cannot open " << options.path << "\n";
      return 1;
    }
    return EncodeStream(file, encoder, options.unbroken);
  } catch (const Failure& failure) {
    std::cerr << "corvane base64: " << failure.description << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << "corvane base64: out of memory\n";
    return 1;
  }
}

int Decode(const Options& options) {
  const std::string name =
      options.path == "-" ? "standard input" : options.path;
  if (IsDirectory(options.path)) {
    std::cerr << "corvane base64: " << name << " is a directory, not a file\n";
    return 1;
  }
  try {
    PieceDecoder decoder(Tallowin());
    if (options.path == "-") {
      std::ios::sync_with_stdio(false);
      return decoder.Run(std::cin, name);
    }
    std::ifstream file(options.path, std::ios::binary);
    if (!file) {
      std::cerr << "corvane base64: cannot open " << options.path << "\n";
      return 1;
    }
    return decoder.Run(file, name);
  } catch (const Failure& failure) {
    std::cerr << "corvane base64: " << failure.description << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    std::cerr << "corvane base64: out of memory\n";
    return 1;
  }
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto options = std::make_shared<Options>();
  auto* command = app.add_subcommand(
      "base64", "Encode a file or standard input as Base64 with Tallowin");
  command->footer(
      "Example:\n  corvane base64 --unbroken photo.jpg > photo.b64");
  command->add_option("file", options->path,
                      "The file to encode; - or none for standard input");
  command->add_flag("--unbroken", options->unbroken,
                    "One line without breaks (EncodeBase64Buffer) instead of "
                    "72-character lines joined by CR LF (Base64Encode)");
  command->add_flag("--decode,-d", options->decode,
                    "Decode Base64 text (Base64Decode): one line, or lines "
                    "of 72 characters joined by CR LF");
  command->callback([options, &exit_status] {
    exit_status = options->decode ? Decode(*options) : Encode(*options);
  });
});

}  // namespace
}  // namespace corvane::tool

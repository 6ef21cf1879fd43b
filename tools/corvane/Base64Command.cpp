// SPDX-License-Identifier: Apache-2.0
// corvane base64 [FILE] [--unbroken]: a file (or standard input) as Base64
// text on standard output, encoded by libtallowin.so.
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
      std::unique_ptr<char, tallowin::ReleaseBase64BufferFunction> text(
          buffer_(input, n), release_);
      if (!text) throw std::bad_alloc();
      text_.assign(text.get());
    } else {
      text_.resize(static_cast<size_t>(Base64EncodeLength(n)));
      lines_(input, n, text_.data());
    }
    return text_;
  }

 private:
  bool unbroken_;
  tallowin::Base64EncodeFunction lines_ = nullptr;
  tallowin::EncodeBase64BufferFunction buffer_ = nullptr;
  tallowin::ReleaseBase64BufferFunction release_ = nullptr;
  std::string text_;
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
  command->callback(
      [options, &exit_status] { exit_status = Encode(*options); });
});

}  // namespace
}  // namespace corvane::tool

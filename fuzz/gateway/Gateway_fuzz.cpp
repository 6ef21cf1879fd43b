// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary requests to Wharfpost's streaming reader: the first byte
// picks the read size (0: the program's own, else 1 to 255 bytes), the first
// line after it is the query string, the rest the body (boundary AaB03x).
// Whatever the request, no file may appear outside the upload directory, no
// temporary file may stay behind, and every listed file must be there, as
// long as it says, under a plain name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/support/UploadChecks.h"
#include "gateway/MultipartReader.h"

namespace {

using namespace corvane::wharfpost;
using fuzz_support::Check;

const fuzz_support::ScratchDirectory& Scratch() {
  static const fuzz_support::ScratchDirectory scratch("wharfpost");
  return scratch;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] == 0 ? kReadSize : data[0];
  std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t line_end = input.find('\n');
  std::string query(input.substr(0, line_end));
  std::string body(line_end == std::string_view::npos
                       ? std::string_view()
                       : input.substr(line_end + 1));
  const auto directory = Scratch().uploads();
  std::filesystem::create_directory(directory);

  UploadRequest request{"--AaB03x",
                        directory.string() + "/",
                        static_cast<int64_t>(body.size()),
                        query,
                        {"*"}};
  UploadState state;
  if (query.size() % 2) state.remaining_quota = 4096;
  size_t at = 0;
  BodyInput feed = [&](char* buffer, size_t count) {
    size_t n = std::min({count, piece, body.size() - at});
    std::memcpy(buffer, body.data() + at, n);
    at += n;
    return n;
  };
  int16_t code = ReadMultipartInput(request, feed, state);
  Check(code == 1 || (code <= -4 && code >= -8));

  // The last record of a name is the file on disk.
  fuzz_support::StoredFiles stored;
  for (const auto& record : state.uploaded_files) {
    stored[record.FileName] = record.FileLen;
  }
  fuzz_support::CheckAndClearUploads(Scratch(), stored, ".wharfpost-");
  return 0;
}

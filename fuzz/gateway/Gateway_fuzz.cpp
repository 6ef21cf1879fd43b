// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary requests to Wharfpost's streaming reader: the first byte
// picks the read size (0: the program's own, else 1 to 255 bytes), the first
// line after it is the query string and, after a tab, the cookies; the rest
// is the body (boundary AaB03x). The cookie WharfpostToWhere picks the
// upload directory under the root and UserDiskQuota a quota, as in the
// program. Whatever the request, nothing may appear outside the root, no
// directory deeper than allowed, no temporary file may stay behind, every
// listed file must be there, as long as it says, under a plain name, and no
// quota may be passed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/support/UploadChecks.h"
#include "gateway/MultipartReader.h"
#include "gateway/UploadRoot.h"
#include "gateway/modCGI.h"

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
  std::string_view first_line = input.substr(0, line_end);
  size_t tab = first_line.find('\t');
  std::string query(first_line.substr(0, tab));
  std::string cookies(tab == std::string_view::npos
                          ? std::string_view()
                          : first_line.substr(tab + 1));
  std::string body(line_end == std::string_view::npos
                       ? std::string_view()
                       : input.substr(line_end + 1));
  const auto root = Scratch().uploads();
  std::filesystem::create_directory(root);

  const std::string real_root = std::filesystem::canonical(root).string() + "/";

  setenv("HTTP_COOKIE", cookies.c_str(), 1);
  std::string requested = TrimBlanks(GetCookieValue("WharfpostToWhere"));
  std::string directory = real_root;
  if (!requested.empty()) {
    auto place = PlanUploadDirectory(root.string(), requested);
    // Checking a directory creates nothing.
    Check(std::filesystem::is_empty(root));
    auto created = place ? CreateUploadDirectory(*place) : std::nullopt;
    if (!created) {
      fuzz_support::CheckAndClearUploads(Scratch(), {}, ".wharfpost-");
      return 0;
    }
    Check(place->levels.size() <= kDeepestUploadDirectory);
    directory = *created;
  }
  Check(directory.starts_with(real_root));

  UploadRequest request{
      "--AaB03x", directory, static_cast<int64_t>(body.size()), query, {"*"}};
  UploadState state;
  double quota = LeadingNumber(GetCookieValue("UserDiskQuota"));
  if (quota > 0 && quota < 1e9) {
    state.remaining_quota = static_cast<int64_t>(quota);
  } else if (query.size() % 2) {
    state.remaining_quota = 4096;
  }
  const auto allowance = state.remaining_quota;
  size_t at = 0;
  BodyInput feed = [&](char* buffer, size_t count) {
    size_t n = std::min({count, piece, body.size() - at});
    std::memcpy(buffer, body.data() + at, n);
    at += n;
    return n;
  };
  int16_t code = ReadMultipartInput(request, feed, state);
  Check(code == 1 || (code <= -4 && code >= -8));

  // The last record of a name is the file on disk; under a quota the files
  // stored never hold more than it allowed.
  fuzz_support::StoredFiles stored;
  int64_t total = 0;
  for (const auto& record : state.uploaded_files) {
    stored[record.FileName] = record.FileLen;
    total += record.FileLen;
  }
  Check(!allowance || (total <= *allowance && *state.remaining_quota >= 0));
  fuzz_support::CheckAndClearUploads(Scratch(), stored, ".wharfpost-",
                                     directory.substr(real_root.size()));
  return 0;
}

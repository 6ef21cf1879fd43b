// Feeds arbitrary requests to Wharfpost's streaming reader: the first byte
// picks the read size (0: the program's own, else 1 to 255 bytes), the first
// line after it is the query string, the rest the body (boundary AaB03x).
// Whatever the request, no file may appear outside the upload directory, no
// temporary file may stay behind, and every listed file must be there, as
// long as it says, under a plain name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "gateway/MultipartReader.h"
#include "upload/FileNameRules.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane::wharfpost;

// A directory under /tmp for the whole run, removed when the run ends.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (fs::temp_directory_path() / "wharfpost-fuzz-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDirectory() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

const fs::path& Scratch() {
  static const ScratchDirectory scratch;
  return scratch.path();
}

void Check(bool condition) {
  if (!condition) std::abort();
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
  const fs::path directory = Scratch() / "up";
  fs::create_directory(directory);

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

  for (const auto& entry : fs::directory_iterator(Scratch())) {
    Check(entry.path().filename() == "up");
  }
  // The last record of a name is the file on disk.
  std::map<std::string, int64_t> stored;
  for (const auto& record : state.uploaded_files) {
    Check(corvane::cargane::IsSafeStoredName(record.FileName));
    stored[record.FileName] = record.FileLen;
  }
  for (const auto& [name, length] : stored) {
    fs::path file = directory / name;
    Check(fs::exists(file));
    Check(static_cast<int64_t>(fs::file_size(file)) == length);
  }
  // A browser may name a file like a temporary one; anything else of that
  // form is a temporary file left behind.
  for (const auto& entry : fs::directory_iterator(directory)) {
    std::string name = entry.path().filename().string();
    Check(!name.starts_with(".wharfpost-") || stored.count(name) > 0);
  }
  fs::remove_all(directory);
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary requests to `upload`: the first line of the input is the
// query string, the rest the body (boundary AaB03x, written in one of three
// forms of the content type, chosen by the query's length). Whatever the
// request, no file may appear outside the upload directory, no temporary
// file may stay behind, every listed file must be there under a plain name,
// and no listed file may be longer than MaxFileBytes. The same body with its
// parameter names in upper case ("; NAME=", "; FILENAME=") must give the
// same code and the same files.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/MemoryHost.h"
#include "frame/Text.h"
#include "fuzz/support/UploadChecks.h"
#include "upload/clsFileRecord.h"
#include "upload/upload.h"

namespace {

using fuzz_support::Check;

const fuzz_support::ScratchDirectory& Scratch() {
  static const fuzz_support::ScratchDirectory scratch("cargane");
  return scratch;
}

struct Outcome {
  int16_t code;
  std::vector<std::string> stored;  // in body order
};

// One request through `upload`, checked and cleared afterwards.
Outcome Run(const std::string& body, const std::string& query) {
  const std::string directory = Scratch().uploads().string();
  static const char* const kContentTypes[] = {
      "multipart/form-data; boundary=AaB03x",
      "multipart/form-data; boundary=\"AaB03x\"",
      "multipart/form-data; boundary=AaB03x; charset=utf-8"};
  auto page = corvane::MemoryContext::New(
      {body, query, {{"CONTENT_TYPE", kContentTypes[query.size() % 3]}}});
  corvane::cargane::upload component;
  component.UpLoadPath(directory);
  component.UserDiskQuota(query.size() % 2 ? 4096 : -1);
  const int32_t max_file_bytes = query.size() % 4 == 1 ? 64 : -1;
  component.MaxFileBytes(max_file_bytes);
  component.FileExtensionList({});
  component.RejectEmptyExtension(false);
  component.OnStartPage(page);
  Outcome outcome{component.Upload(), {}};
  Check(outcome.code == 1 || (outcome.code <= -4 && outcome.code >= -9));

  fuzz_support::StoredFiles stored;
  for (const auto& item : component.UploadedFiles()->Items()) {
    auto record = std::dynamic_pointer_cast<corvane::cargane::clsFileRecord>(
        item.ToObject());
    Check(max_file_bytes < 0 || record->FileLen <= max_file_bytes);
    stored[record->FileName] = -1;
    outcome.stored.push_back(corvane::LowerCase(record->FileName));
  }
  fuzz_support::CheckAndClearUploads(Scratch(), stored, ".cargane-");
  return outcome;
}

// The body with its parameter names "name" and "filename" in upper case.
std::string UpperCaseParameters(std::string body) {
  for (auto [from, to] : {std::pair{"; filename=", "; FILENAME="},
                          std::pair{"; name=", "; NAME="}}) {
    std::string_view search(from);
    for (size_t at = body.find(search); at != std::string::npos;
         at = body.find(search, at + search.size())) {
      body.replace(at, search.size(), to);
    }
  }
  return body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t line_end = input.find('\n');
  std::string query(input.substr(0, line_end));
  std::string body(line_end == std::string_view::npos
                       ? std::string_view()
                       : input.substr(line_end + 1));
  Outcome plain = Run(body, query);
  std::string upper = UpperCaseParameters(body);
  if (upper == body) return 0;
  // Names that differ only by case would replace each other once a value
  // changed case with its parameter name; such bodies are not compared.
  std::set<std::string> distinct(plain.stored.begin(), plain.stored.end());
  Outcome shouted = Run(upper, query);
  if (distinct.size() != plain.stored.size()) return 0;
  Check(shouted.code == plain.code);
  Check(shouted.stored == plain.stored);
  return 0;
}

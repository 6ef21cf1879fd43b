// SPDX-License-Identifier: Apache-2.0
#include "gateway/MultipartReader.h"

#include <algorithm>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

using cargane::BodyFault;

constexpr std::string_view kTemporaryPrefix = ".wharfpost-";

// A broken body fails the reading, save one cut off inside a part, which
// ends with the code reached so far.
std::optional<Failure> WharfpostFault(BodyFault fault) {
  const char* why = nullptr;
  switch (fault) {
    case BodyFault::kNoDelimiter:
      why = "Seeking boundary failed.";
      break;
    case BodyFault::kEndsAfterDelimiter:
    case BodyFault::kEndsInHeader:
      why = "A part header has no end.";
      break;
    case BodyFault::kHeaderTooLong:
      why = "A part header is too long.";
      break;
    case BodyFault::kNoLineBreak:
      why = "A part has no line break before the boundary.";
      break;
    case BodyFault::kEndsInContent:
      return std::nullopt;
  }
  return Failure(kComponentErrorBase + 1, "Wharfpost", why);
}

class Results : public cargane::MultipartResults {
 public:
  explicit Results(UploadState& state) : state_(state) {}

  void AddFile(const clsFileRecord& file,
               const std::function<void()>& put_in_place) override {
    put_in_place();
    state_.uploaded_files.push_back(file);
  }
  void AddField(clsFormItem field) override {
    state_.form_items.push_back(std::move(field));
  }

 private:
  UploadState& state_;
};

}  // namespace

int16_t ReadMultipartInput(const UploadRequest& request, const BodyInput& input,
                           UploadState& state) {
  if (request.boundary.size() <= 2) return kBodyFailed;
  cargane::MultipartOptions options;
  options.delimiter = request.boundary;
  options.directory = request.upload_directory;
  options.query_string = request.query_string;
  options.extension_allowed = [&request](std::string_view name) {
    return IsFileTypeAllowed(name, request.allowed_extensions);
  };
  options.longest_field_value = request.longest_field_value;
  options.empty_file_input_is_field = true;
  options.temporary_prefix = kTemporaryPrefix;
  options.read_size = kReadSize;
  options.on_fault = WharfpostFault;
  Results results(state);
  try {
    cargane::MultipartReader reader(std::move(options), input,
                                    request.content_length, results,
                                    state.remaining_quota);
    return reader.Run();
  } catch (...) {
    // The part being written went with the reader; the parts finished
    // before keep their files and records.
    Failure failure = CurrentFailure("Wharfpost");
    state.failure =
        failure.description + " (" + std::to_string(failure.number) + ")";
    return failure.number == kPathFileAccessError ? kFileAccessFailed
                                                  : kBodyFailed;
  }
}

bool IsFileTypeAllowed(std::string_view client_name,
                       const std::vector<std::string>& allowed_extensions) {
  std::string extension = client_name.find('.') == std::string_view::npos
                              ? std::string(client_name)
                              : cargane::GetFileExtension(client_name);
  std::string lower = LowerCase(extension);
  return std::any_of(
      allowed_extensions.begin(), allowed_extensions.end(),
      [&](const std::string& entry) { return entry == "*" || entry == lower; });
}

}  // namespace corvane::wharfpost

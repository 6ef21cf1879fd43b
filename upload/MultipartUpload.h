// SPDX-License-Identifier: Apache-2.0
// The part loop of `upload`: walks one multipart/form-data body by
// positions (the body is never copied or cut), stores each file part
// through a PendingFile and turns each text part into a form item.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "frame/Collection.h"
#include "frame/Host.h"
#include "upload/DelimiterSearch.h"
#include "upload/GetHeaderParam.h"
#include "upload/PendingFile.h"
#include "upload/clsFormItem.h"

namespace corvane::cargane {

// What the part loop works on and fills: the request, the upload directory
// and extension rule of the owning upload object, and its results.
struct UploadTarget {
  Request& request;
  // The upload directory, ending in "/".
  std::string directory;
  // Whether a browser-given name passes the extension rules.
  std::function<bool(std::string_view)> extension_allowed;
  // The largest file part that is stored; 0 or less for no limit.
  int32_t max_file_bytes = -1;
  Collection& uploaded_files;
  Collection& form_items;
  Collection& form;
  // The number of stored files, raised as each file is stored.
  int16_t& stored_count;
};

// The number raised when a delimiter is missing (hexadecimal 80040001).
inline constexpr int32_t kSeekingBoundaryFailed = -2147221503;

class MultipartUpload {
 public:
  // `allowance` is the bytes that may still be written, when a quota is in
  // force.
  MultipartUpload(UploadTarget target, std::string body, std::string delimiter,
                  std::optional<int64_t> allowance);
  ~MultipartUpload();

  // Processes the parts up to the closing delimiter and returns the code.
  // Throws Failure when a delimiter is missing, the part structure is
  // broken or an operation fails; a file part being written is then
  // discarded as the object goes.
  int16_t Run();

 private:
  size_t FindDelimiter(size_t from) const;
  void BeginPart(std::string_view header);
  void BeginFilePart(std::string_view header, std::string_view file_name);
  void EndPart(std::string_view part_body);
  void StoreFile(std::string_view part_body);
  void AddFormItem(std::string_view part_body);

  UploadTarget target_;
  std::string body_;
  DelimiterSearch search_;
  std::optional<int64_t> allowance_;
  int16_t code_;
  int16_t file_part_counter_ = 0;
  std::unique_ptr<PendingFile> output_file_;
  std::string temporary_base_;
  int32_t temporary_count_ = 0;
  std::string stored_name_;
  std::string file_field_name_;
  std::shared_ptr<clsFormItem> pending_form_item_;
};

}  // namespace corvane::cargane

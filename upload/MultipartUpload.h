// SPDX-License-Identifier: Apache-2.0
// The part loop of `upload`: reads the request body through the page's
// request object in bounded pieces with the multipart reader, and turns
// each stored file into a clsFileRecord and each text part into a form
// item.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "frame/Collection.h"
#include "frame/Host.h"
#include "upload/GetHeaderParam.h"
#include "upload/MultipartReader.h"

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
  // The body's length, as TotalBytes gave it.
  int32_t total_bytes = 0;
};

// The number raised when a delimiter is missing (hexadecimal 80040001).
inline constexpr int32_t kSeekingBoundaryFailed = -2147221503;

// Bytes asked of the request object at a time.
inline constexpr int32_t kBinaryReadSize = 65536;

class MultipartUpload : public MultipartResults {
 public:
  // `first_piece` is what the first BinaryRead of the body gave;
  // `allowance` is the bytes that may still be written, when a quota is in
  // force.
  MultipartUpload(UploadTarget target, std::string first_piece,
                  std::string delimiter, std::optional<int64_t> allowance);

  // The first piece of the request's body (kBinaryReadSize bytes at most);
  // throws Failure when the host cannot deliver it.
  static std::string ReadFirstPiece(Request& request, int32_t total_bytes);

  // Reads the body (TotalBytes of it at most) up to the closing delimiter
  // and returns the code. Throws Failure when a delimiter is missing, the
  // part structure is broken or an operation fails; a file part being
  // written is then discarded.
  int16_t Run();

  void AddFile(const StoredFile& file,
               const std::function<void()>& put_in_place) override;
  void AddField(FormField field) override;

 private:
  size_t ReadBody(char* buffer, size_t count);

  UploadTarget target_;
  // Bytes read but not yet handed to the reader.
  std::string piece_;
  size_t piece_at_ = 0;
  std::string delimiter_;
  std::optional<int64_t> allowance_;
};

}  // namespace corvane::cargane

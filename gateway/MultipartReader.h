// SPDX-License-Identifier: Apache-2.0
// Wharfpost's reading of a multipart/form-data body that arrives on
// standard input: the multipart reader streams it in reads of 32,768
// bytes, stores each file part in the upload directory and collects each
// text part.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "upload/MultipartReader.h"
#include "upload/UploadCode.h"

namespace corvane::wharfpost {

// Result codes of an upload, sent as ErrorCode in the redirect.
using ResultCode = cargane::UploadCode;
using enum cargane::UploadCode;

// Bytes asked of the input at a time.
inline constexpr size_t kReadSize = 32768;

using cargane::BodyInput;

// The records of a stored file and a text field; the multipart reader's.
using clsFileRecord = cargane::StoredFile;
using clsFormItem = cargane::FormField;

// What ReadMultipartInput needs to know of the request.
struct UploadRequest {
  std::string boundary;          // "--" and the boundary value
  std::string upload_directory;  // ends with "/"
  int64_t content_length = 0;
  std::string query_string;
  std::vector<std::string> allowed_extensions;
  // A text field's value is kept up to this many bytes; the rest is passed
  // over.
  size_t longest_field_value = std::numeric_limits<size_t>::max();
};

// What an upload leaves behind; ReadMultipartInput appends to it.
struct UploadState {
  std::vector<clsFileRecord> uploaded_files;
  std::vector<clsFormItem> form_items;
  // Bytes that may still be written, while a quota is in force.
  std::optional<int64_t> remaining_quota;
  // The failure that ended the reading with -7 or -8, for the server's log.
  std::string failure;
};

// Reads the body up to CONTENT_LENGTH bytes or the end of the input,
// whichever comes first, and returns the result code: 1, -4 (a file was
// refused by the quota), -6 (a file was refused by its extension or name),
// -7 (the body is malformed, ends inside a header, or an operation failed)
// or -8 (a file could not be written: access failure). A body that ends
// inside a part returns the code reached so far. A file is put in place
// under its name only when complete and accepted; nothing else is left in
// the directory.
[[nodiscard]] int16_t ReadMultipartInput(const UploadRequest& request,
                                         const BodyInput& input,
                                         UploadState& state);

// Whether the extension list lets in a file of this browser-given name:
// its extension is the text after its last "." (the whole name when it has
// none), and an entry "*" or one equal to it in lower case allows it.
bool IsFileTypeAllowed(std::string_view client_name,
                       const std::vector<std::string>& allowed_extensions);

}  // namespace corvane::wharfpost

// SPDX-License-Identifier: Apache-2.0
#include "upload/MultipartUpload.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "upload/clsFileRecord.h"
#include "upload/clsFormItem.h"
#include "upload/upload.h"

namespace corvane::cargane {
namespace {

// What a broken body makes of Cargane's upload: a missing delimiter fails,
// a body cut off at a delimiter or inside a header ends with the code
// reached so far.
std::optional<Failure> CarganeFault(BodyFault fault) {
  switch (fault) {
    case BodyFault::kNoDelimiter:
    case BodyFault::kEndsInContent:
      return Failure(kSeekingBoundaryFailed, std::string(kSource),
                     "Seeking bourdary failed.");
    case BodyFault::kEndsAfterDelimiter:
    case BodyFault::kEndsInHeader:
      return std::nullopt;
    case BodyFault::kHeaderTooLong:
    case BodyFault::kNoLineBreak:
      break;
  }
  return StandardFailure(kInvalidCall);
}

}  // namespace

MultipartUpload::MultipartUpload(UploadTarget target, std::string first_piece,
                                 std::string delimiter,
                                 std::optional<int64_t> allowance)
    : target_(std::move(target)),
      piece_(std::move(first_piece)),
      delimiter_(std::move(delimiter)),
      allowance_(allowance) {}

std::string MultipartUpload::ReadFirstPiece(Request& request,
                                            int32_t total_bytes) {
  Variant count = std::min(total_bytes, kBinaryReadSize);
  return request.BinaryRead(count).TakeText();
}

size_t MultipartUpload::ReadBody(char* buffer, size_t count) {
  if (piece_at_ == piece_.size()) {
    Variant asked = kBinaryReadSize;
    piece_ = target_.request.BinaryRead(asked).TakeText();
    piece_at_ = 0;
  }
  size_t got = std::min(piece_.size() - piece_at_, count);
  std::memcpy(buffer, piece_.data() + piece_at_, got);
  piece_at_ += got;
  return got;
}

int16_t MultipartUpload::Run() {
  MultipartOptions options;
  options.delimiter = delimiter_;
  options.directory = target_.directory;
  options.query_string = target_.request.QueryString();
  options.extension_allowed = target_.extension_allowed;
  options.max_file_bytes = target_.max_file_bytes;
  options.keep_form_name = true;
  options.read_size = kBinaryReadSize;
  options.on_fault = CarganeFault;
  BodyInput input = [this](char* buffer, size_t count) {
    return ReadBody(buffer, count);
  };
  MultipartReader reader(std::move(options), input, target_.total_bytes, *this,
                         allowance_);
  return reader.Run();
}

void MultipartUpload::AddFile(const StoredFile& file,
                              const std::function<void()>& put_in_place) {
  int16_t stored_count = target_.stored_count;
  if (stored_count == std::numeric_limits<int16_t>::max()) {
    throw StandardFailure(kOverflow);
  }
  ++stored_count;
  put_in_place();
  target_.stored_count = stored_count;
  auto record = clsFileRecord::New();
  record->FileName = file.FileName;
  record->FormName = file.FormName;
  record->FileLen = static_cast<int32_t>(file.FileLen);
  target_.uploaded_files.Add(record);
}

void MultipartUpload::AddField(FormField field) {
  auto item = clsFormItem::New();
  item->Name = std::move(field.Name);
  item->Value = std::move(field.Value);
  target_.form_items.Add(item);
  target_.form.Add(item->Value, item->Name);
}

}  // namespace corvane::cargane

// SPDX-License-Identifier: Apache-2.0
#include "upload/MultipartUpload.h"

#include <algorithm>
#include <functional>
#include <limits>

#include "frame/Text.h"
#include "upload/FileNameRules.h"
#include "upload/clsFileRecord.h"
#include "upload/modMain.h"
#include "upload/upload.h"

namespace corvane::cargane {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kServerNameField = "ServerName";

[[noreturn]] void ThrowSeekingBoundaryFailed() {
  throw Failure(kSeekingBoundaryFailed, "Cargane", "Seeking bourdary failed.");
}

// Adds 1 to a 16-bit counter; 6 "Overflow" past 32767.
void Increment(int16_t& counter) {
  if (counter == std::numeric_limits<int16_t>::max()) {
    throw StandardFailure(kOverflow);
  }
  ++counter;
}

}  // namespace

MultipartUpload::MultipartUpload(UploadTarget target, std::string body,
                                 std::string delimiter,
                                 std::optional<int64_t> allowance)
    : target_(std::move(target)),
      body_(std::move(body)),
      search_(std::move(delimiter)),
      allowance_(allowance),
      code_(kUploadFailed) {}

MultipartUpload::~MultipartUpload() = default;

size_t MultipartUpload::FindDelimiter(size_t from) const {
  return search_.Find(body_, from);
}

int16_t MultipartUpload::Run() {
  const std::string_view body = body_;
  size_t position = 0;
  for (;;) {
    size_t delimiter = FindDelimiter(position);
    if (delimiter == std::string::npos) ThrowSeekingBoundaryFailed();
    size_t after = delimiter + search_.delimiter().size();
    DelimiterTail tail = ReadDelimiterTail(body.substr(after));
    if (tail.kind == DelimiterKind::kClosing) {
      if (code_ == kUploadFailed) code_ = kUploadDone;
      return code_;
    }
    // A body that ends right after the delimiter has no further part.
    if (tail.kind != DelimiterKind::kPart) return code_;
    size_t header_start = after + tail.length;
    size_t header_end = body.find(kHeaderEnd, header_start);
    if (header_end == std::string_view::npos) return code_;
    header_end += kHeaderEnd.size();
    position = header_end;
    BeginPart(body.substr(header_start, header_end - header_start));

    size_t next = FindDelimiter(position);
    if (next == std::string::npos) {
      // A part cut off before its delimiter stores nothing.
      output_file_.reset();
      if (position == body.size()) return code_;
      ThrowSeekingBoundaryFailed();
    }
    // The line break before the delimiter is dropped unchecked; a body
    // shorter than it breaks the part structure.
    if (next < position + 2) throw StandardFailure(kInvalidCall);
    EndPart(body.substr(position, next - 2 - position));
    position = next;
  }
}

void MultipartUpload::BeginPart(std::string_view header) {
  if (auto file_name = FindHeaderParam(header, "filename")) {
    Increment(file_part_counter_);
    // A file input left empty creates nothing.
    if (!file_name->empty()) BeginFilePart(header, *file_name);
    return;
  }
  std::string field_name = GetHeaderParam(header, "name");
  if (field_name.empty()) return;
  pending_form_item_ = clsFormItem::New();
  pending_form_item_->Name = field_name;
}

void MultipartUpload::BeginFilePart(std::string_view header,
                                    std::string_view file_name) {
  std::string client_name = ExtractFileName(file_name);
  stored_name_ = client_name;
  file_field_name_ = GetHeaderParam(header, "name");
  Request& request = target_.request;
  if (!request.QueryString().empty()) {
    stored_name_ =
        StoredFileName(client_name,
                       GetFieldValue(std::string(kServerNameField) +
                                         std::to_string(file_part_counter_),
                                     request.QueryString()),
                       target_.extension_allowed);
  }
  // A name that could leave the upload directory is refused like a
  // forbidden extension.
  if (!target_.extension_allowed(client_name) ||
      !IsSafeStoredName(stored_name_)) {
    code_ = kExtensionRefused;
    return;
  }
  if (temporary_base_.empty()) {
    temporary_base_ = PendingFile::TemporaryBase(target_.directory);
  }
  output_file_ = std::make_unique<PendingFile>(
      target_.directory,
      temporary_base_ + "." + std::to_string(++temporary_count_),
      target_.directory + stored_name_);
}

void MultipartUpload::EndPart(std::string_view part_body) {
  if (output_file_) {
    StoreFile(part_body);
  } else if (pending_form_item_) {
    AddFormItem(part_body);
  }
}

void MultipartUpload::StoreFile(std::string_view part_body) {
  std::unique_ptr<PendingFile> file = std::move(output_file_);
  // A file over the per-file limit is refused like one over the quota; its
  // temporary file goes with `file`.
  if (!WithinFileLimit(static_cast<int64_t>(part_body.size()),
                       target_.max_file_bytes)) {
    code_ = kQuotaExceeded;
    return;
  }
  int64_t written = file->WriteBody(part_body);
  if (allowance_) {
    // The file it replaces gives its bytes back first.
    int64_t available = *allowance_ + file->ReplacedBytes();
    if (available - written < 0) {
      code_ = kQuotaExceeded;
      return;
    }
    *allowance_ = available - written;
  }
  int16_t stored_count = target_.stored_count;
  Increment(stored_count);
  file->Commit();
  target_.stored_count = stored_count;
  auto record = clsFileRecord::New();
  record->FileName = stored_name_;
  record->FormName = file_field_name_;
  record->FileLen = static_cast<int32_t>(written);
  target_.uploaded_files.Add(record);
}

void MultipartUpload::AddFormItem(std::string_view part_body) {
  std::shared_ptr<clsFormItem> item = std::move(pending_form_item_);
  item->Value = part_body;
  target_.form_items.Add(item);
  target_.form.Add(std::string(part_body), item->Name);
}

}  // namespace corvane::cargane

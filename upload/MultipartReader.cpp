// SPDX-License-Identifier: Apache-2.0
#include "upload/MultipartReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "upload/FileNameRules.h"
#include "upload/GetHeaderParam.h"
#include "upload/modMain.h"

namespace corvane::cargane {
namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kServerNameField = "ServerName";

// The parameters of a part header that the reader looks at.
constexpr std::array<std::string_view, 2> kPartParams = {"filename", "name"};
enum PartParam : size_t { kFileNameParam, kNameParam };

}  // namespace

// The body's bytes not yet consumed, refilled from the input in reads of
// the read size up to the content length; the buffer holds at most a
// header or a delimiter's worth beside one read.
class MultipartReader::Window {
 public:
  Window(const BodyInput& input, int64_t content_length, size_t read_size)
      : input_(input),
        bytes_due_(content_length),
        read_size_(std::max<size_t>(read_size, 1)) {}

  std::string_view View() const {
    return {buffer_.data() + begin_, end_ - begin_};
  }

  void Consume(size_t count) {
    for (size_t i = count > 2 ? count - 2 : 0; i < count; ++i) {
      last_consumed_[0] = last_consumed_[1];
      last_consumed_[1] = buffer_[begin_ + i];
    }
    consumed_ += count;
    begin_ += count;
  }

  // Whether `position` in View() starts a line: the start of the body or
  // right after CR LF (the two bytes before may have been consumed).
  bool StartsLine(size_t position) const {
    std::string_view view = View();
    if (position >= 2) return view.substr(position - 2, 2) == "\r\n";
    if (consumed_ + position == 0) return true;
    std::string before(last_consumed_, 2);
    before.append(view.substr(0, position));
    return before.ends_with("\r\n");
  }

  // Reads once more; false when the content length has arrived or the
  // input ended early (it is not asked again).
  bool Fill() {
    if (bytes_due_ <= 0) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (buffer_.size() < end_ + read_size_) buffer_.resize(end_ + read_size_);
    size_t want = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(read_size_), bytes_due_));
    size_t got = input_(buffer_.data() + end_, want);
    if (got == 0) {
      bytes_due_ = 0;
      return false;
    }
    end_ += got;
    bytes_due_ -= static_cast<int64_t>(got);
    return true;
  }

 private:
  const BodyInput& input_;
  int64_t bytes_due_;
  size_t read_size_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t consumed_ = 0;
  char last_consumed_[2] = {0, 0};
};

DelimiterTail ReadDelimiterTail(std::string_view after) {
  if (after.starts_with("--")) return {DelimiterKind::kClosing, 2};
  size_t end = std::min(after.find_first_not_of(" \t"), after.size());
  if (end > kLongestPadding) return {DelimiterKind::kContent};
  std::string_view rest = after.substr(end);
  if (rest.starts_with("\r\n")) return {DelimiterKind::kPart, end + 2};
  // "-" or CR may still become "--" or CR LF.
  if (rest.empty() || rest == "\r" || (end == 0 && rest == "-")) {
    return {DelimiterKind::kUndecided};
  }
  return {DelimiterKind::kContent};
}

MultipartReader::MultipartReader(MultipartOptions options,
                                 const BodyInput& input, int64_t content_length,
                                 MultipartResults& results,
                                 std::optional<int64_t>& remaining_quota)
    : options_(std::move(options)),
      results_(results),
      remaining_quota_(remaining_quota),
      window_(
          std::make_unique<Window>(input, content_length, options_.read_size)),
      searcher_(options_.delimiter.data(),
                options_.delimiter.data() + options_.delimiter.size()) {}

MultipartReader::~MultipartReader() = default;

int16_t MultipartReader::Run() {
  for (;;) {
    if (!SeekDelimiter()) return code_;
    DelimiterTail tail = TailAt(0);
    if (tail.kind == DelimiterKind::kClosing) {
      if (code_ == kUploadFailed) code_ = kUploadDone;
      return code_;
    }
    // Past a delimiter (not content) only the body's end is undecided.
    if (tail.kind != DelimiterKind::kPart) {
      Fault(BodyFault::kEndsAfterDelimiter);
      return code_;
    }
    size_t header_start = options_.delimiter.size() + tail.length;
    std::optional<size_t> header_end = FindHeaderEnd(header_start);
    if (!header_end) return code_;
    BeginPart(window_->View().substr(header_start, *header_end - header_start));
    window_->Consume(*header_end);
    if (!ReadContent()) {
      // The body ended inside the part: it is not kept.
      output_file_.reset();
      pending_field_.reset();
      if (content_seen_) Fault(BodyFault::kEndsInContent);
      return code_;
    }
  }
}

void MultipartReader::Fault(BodyFault fault) {
  if (std::optional<Failure> failure = options_.on_fault(fault)) {
    throw *failure;
  }
}

size_t MultipartReader::Find(std::string_view text, size_t from) const {
  const char* end = text.data() + text.size();
  const char* found = std::search(text.data() + from, end, searcher_);
  return found == end ? std::string_view::npos
                      : static_cast<size_t>(found - text.data());
}

DelimiterTail MultipartReader::TailAt(size_t found) {
  for (;;) {
    std::string_view view = window_->View();
    DelimiterTail tail =
        ReadDelimiterTail(view.substr(found + options_.delimiter.size()));
    if (tail.kind != DelimiterKind::kUndecided || !window_->Fill()) {
      return tail;
    }
  }
}

bool MultipartReader::IsDelimiter(size_t found) {
  return window_->StartsLine(found) &&
         TailAt(found).kind != DelimiterKind::kContent;
}

size_t MultipartReader::FindDelimiter(size_t from) {
  for (;;) {
    size_t found = Find(window_->View(), from);
    if (found == std::string_view::npos || IsDelimiter(found)) return found;
    from = found + 1;
  }
}

bool MultipartReader::SeekDelimiter() {
  size_t keep = options_.delimiter.size() - 1;
  for (;;) {
    size_t found = FindDelimiter(0);
    if (found != std::string_view::npos) {
      window_->Consume(found);
      return true;
    }
    std::string_view view = window_->View();
    if (view.size() > keep) window_->Consume(view.size() - keep);
    if (!window_->Fill()) {
      Fault(BodyFault::kNoDelimiter);
      return false;
    }
  }
}

std::optional<size_t> MultipartReader::FindHeaderEnd(size_t start) {
  size_t from = start;
  for (;;) {
    std::string_view view = window_->View();
    if (view.size() >= start) {
      size_t found = view.find(kHeaderEnd, from);
      if (found != std::string_view::npos) return found + kHeaderEnd.size();
      if (view.size() - start > kLongestHeader) {
        Fault(BodyFault::kHeaderTooLong);
        return std::nullopt;
      }
      from = std::max(start, view.size() - (kHeaderEnd.size() - 1));
    }
    if (!window_->Fill()) {
      Fault(BodyFault::kEndsInHeader);
      return std::nullopt;
    }
  }
}

// A part header's parameters, read in one walk; each is given, or the
// failure thrown, as FindHeaderParam gives or throws it.
struct MultipartReader::PartHeader {
  explicit PartHeader(std::string_view header)
      : complete(FindHeaderParams(header, kPartParams, values)) {}

  std::optional<std::string_view> Find(PartParam param) const {
    if (!values[param] && !complete) throw StandardFailure(kInvalidCall);
    return values[param];
  }
  std::string Get(PartParam param) const {
    return std::string(Find(param).value_or(std::string_view()));
  }

  std::array<std::optional<std::string_view>, kPartParams.size()> values;
  bool complete;
};

void MultipartReader::BeginPart(std::string_view header_text) {
  PartHeader header(header_text);
  // One reading of the parameter, without regard to case, both counts the
  // file input and gives its name.
  std::optional<std::string_view> file_name = header.Find(kFileNameParam);
  if (file_name) {
    if (file_part_counter_ == std::numeric_limits<int16_t>::max()) {
      throw StandardFailure(kOverflow);
    }
    ++file_part_counter_;
    if (!file_name->empty()) {
      BeginFilePart(header, ExtractFileName(*file_name));
      return;
    }
    // A file input left empty creates no file.
    if (!options_.empty_file_input_is_field) return;
  }
  std::string field_name = header.Get(kNameParam);
  if (!field_name.empty()) {
    pending_field_ = FormField{std::move(field_name), {}};
  }
}

void MultipartReader::BeginFilePart(const PartHeader& header,
                                    std::string client_name) {
  file_ = StoredFile{client_name, 0, {}};
  if (options_.keep_form_name) file_.FormName = header.Get(kNameParam);
  if (!options_.query_string.empty()) {
    // An override that CheckFileName or the extension rules refuse is
    // ignored: the browser's name is used.
    file_.FileName =
        StoredFileName(client_name,
                       GetFieldValue(std::string(kServerNameField) +
                                         std::to_string(file_part_counter_),
                                     options_.query_string),
                       options_.extension_allowed);
  }
  // A name that could leave the upload directory is refused like a
  // forbidden extension.
  if (!options_.extension_allowed(client_name) ||
      !IsSafeStoredName(file_.FileName)) {
    code_ = kExtensionRefused;
    return;
  }
  const std::string& directory = options_.directory;
  if (temporary_base_.empty()) {
    temporary_base_ =
        PendingFile::TemporaryBase(directory, options_.temporary_prefix);
  }
  output_file_ = std::make_unique<PendingFile>(
      directory, temporary_base_ + "." + std::to_string(++temporary_count_),
      directory + file_.FileName, options_.temporary_prefix);
  file_written_ = 0;
  // The file it replaces gives its bytes back.
  file_allowance_ = remaining_quota_
                        ? *remaining_quota_ + output_file_->ReplacedBytes()
                        : std::numeric_limits<int64_t>::max();
}

bool MultipartReader::ReadContent() {
  content_seen_ = false;
  // The line break before a delimiter and the start of a delimiter that a
  // read cut in two stay in the window until the next read.
  const size_t delimiter_size = options_.delimiter.size();
  size_t keep = delimiter_size + 1;
  for (size_t from = 0;;) {
    // Boundary text that is no delimiter is content.
    size_t found = FindDelimiter(from);
    std::string_view view = window_->View();
    if (found != std::string_view::npos) {
      // The line break before the delimiter is dropped unchecked; a
      // content shorter than it breaks the part structure.
      if (found < 2) Fault(BodyFault::kNoLineBreak);
      TakeContent(view.substr(0, found < 2 ? 0 : found - 2));
      window_->Consume(found);
      EndPart();
      return true;
    }
    if (view.size() > keep) {
      TakeContent(view.substr(0, view.size() - keep));
      window_->Consume(view.size() - keep);
    }
    size_t held = window_->View().size();
    from = held >= delimiter_size ? held - delimiter_size + 1 : 0;
    if (!window_->Fill()) {
      content_seen_ = content_seen_ || held > 0;
      return false;
    }
  }
}

void MultipartReader::TakeContent(std::string_view content) {
  if (!content.empty()) content_seen_ = true;
  if (output_file_) {
    auto size = static_cast<int64_t>(content.size());
    // A file is refused as soon as it would pass the quota or the per-file
    // limit, before the bytes are written; the rest of it is passed over.
    if (size > file_allowance_ - file_written_ ||
        !WithinFileLimit(file_written_ + size, options_.max_file_bytes)) {
      output_file_.reset();
      code_ = kQuotaExceeded;
      return;
    }
    output_file_->Write(content);
    file_written_ += size;
  } else if (pending_field_) {
    std::string& value = pending_field_->Value;
    size_t room = options_.longest_field_value - value.size();
    value.append(content.substr(0, std::min(room, content.size())));
  }
}

void MultipartReader::EndPart() {
  if (pending_field_) {
    FormField field = std::move(*pending_field_);
    pending_field_.reset();
    results_.AddField(std::move(field));
  }
  if (output_file_) StoreFile();
}

void MultipartReader::StoreFile() {
  std::unique_ptr<PendingFile> file = std::move(output_file_);
  file_.FileLen = file->Close();
  if (remaining_quota_) {
    // The file it replaces gives its bytes back first.
    int64_t available = *remaining_quota_ + file->ReplacedBytes();
    if (available - file_.FileLen < 0) {
      code_ = kQuotaExceeded;
      return;
    }
    *remaining_quota_ = available - file_.FileLen;
  }
  results_.AddFile(file_, [&file] { file->Commit(); });
}

}  // namespace corvane::cargane

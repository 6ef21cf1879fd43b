// SPDX-License-Identifier: Apache-2.0
#include "gateway/MultipartReader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "upload/DelimiterSearch.h"
#include "upload/FileNameRules.h"
#include "upload/GetHeaderParam.h"
#include "upload/PendingFile.h"
#include "upload/modMain.h"

namespace corvane::wharfpost {
namespace {

using cargane::PendingFile;

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
constexpr std::string_view kServerNameField = "ServerName";
constexpr std::string_view kTemporaryPrefix = ".wharfpost-";
// A part header longer than this is taken for a broken body.
constexpr size_t kLongestHeader = 65536;

[[noreturn]] void ThrowBroken(const char* why) {
  throw Failure(kComponentErrorBase + 1, "Wharfpost", why);
}

// The body's bytes not yet consumed, refilled from the input in reads of
// kReadSize up to CONTENT_LENGTH; the buffer holds at most a header or a
// boundary's worth beside one read.
class BodyWindow {
 public:
  BodyWindow(const BodyInput& input, int64_t content_length)
      : input_(input), bytes_due_(content_length) {}

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

  // Reads once more; false when CONTENT_LENGTH bytes have arrived or the
  // input ended early (it is not asked again).
  bool Fill() {
    if (bytes_due_ <= 0) return false;
    if (begin_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    if (buffer_.size() < end_ + kReadSize) buffer_.resize(end_ + kReadSize);
    size_t want = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(kReadSize), bytes_due_));
    size_t got = input_(buffer_.data() + end_, want);
    if (got == 0) {
      bytes_due_ = 0;
      return false;
    }
    end_ += got;
    bytes_due_ -= static_cast<int64_t>(got);
    return true;
  }

  // Fills until the window holds `count` bytes; false when the body ends
  // before.
  bool Hold(size_t count) {
    while (View().size() < count) {
      if (!Fill()) return false;
    }
    return true;
  }

 private:
  const BodyInput& input_;
  int64_t bytes_due_;
  std::vector<char> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t consumed_ = 0;
  char last_consumed_[2] = {0, 0};
};

class Reader {
 public:
  Reader(const UploadRequest& request, const BodyInput& input,
         UploadState& state)
      : request_(request),
        state_(state),
        window_(input, request.content_length),
        searcher_(request.boundary.data(),
                  request.boundary.data() + request.boundary.size()) {}

  int16_t Run() {
    try {
      for (;;) {
        SeekBoundary();
        cargane::DelimiterTail tail = TailAt(0);
        if (tail.kind == cargane::DelimiterKind::kClosing) {
          if (code_ == kBodyFailed) code_ = kUploadDone;
          return code_;
        }
        if (tail.kind != cargane::DelimiterKind::kPart) {
          ThrowBroken("A part header has no end.");
        }
        size_t header_start = request_.boundary.size() + tail.length;
        size_t header_end = FindHeaderEnd(header_start);
        BeginPart(
            window_.View().substr(header_start, header_end - header_start));
        window_.Consume(header_end);
        if (!ReadContent()) {
          // The body ended inside the part: it is not kept.
          output_file_.reset();
          return code_;
        }
      }
    } catch (...) {
      return Fail(CurrentFailure("Wharfpost"));
    }
  }

 private:
  size_t Find(std::string_view text, size_t from) const {
    const char* end = text.data() + text.size();
    const char* found = std::search(text.data() + from, end, searcher_);
    return found == end ? std::string_view::npos
                        : static_cast<size_t>(found - text.data());
  }

  // What follows the boundary text at `found` in the window, read further
  // while it is undecided; undecided only when the body ends first.
  cargane::DelimiterTail TailAt(size_t found) {
    for (;;) {
      std::string_view view = window_.View();
      cargane::DelimiterTail tail = cargane::ReadDelimiterTail(
          view.substr(found + request_.boundary.size()));
      if (tail.kind != cargane::DelimiterKind::kUndecided || !window_.Fill()) {
        return tail;
      }
    }
  }

  // Whether the boundary text at `found` is a delimiter: at a line start,
  // followed by "--" or by optional blanks and CR LF (or by the body's
  // end).
  bool IsDelimiter(size_t found) {
    return window_.StartsLine(found) &&
           TailAt(found).kind != cargane::DelimiterKind::kContent;
  }

  // Leaves the window starting with the next delimiter; what comes before
  // it is passed over.
  void SeekBoundary() {
    size_t keep = request_.boundary.size() - 1;
    for (size_t from = 0;;) {
      std::string_view view = window_.View();
      size_t found = Find(view, from);
      if (found != std::string_view::npos && !IsDelimiter(found)) {
        from = found + 1;
        continue;
      }
      if (found != std::string_view::npos) {
        window_.Consume(found);
        return;
      }
      if (view.size() > keep) window_.Consume(view.size() - keep);
      from = 0;
      if (!window_.Fill()) ThrowBroken("Seeking boundary failed.");
    }
  }

  // The end (past its CR LF CR LF) of the header that starts at `start`.
  size_t FindHeaderEnd(size_t start) {
    size_t from = start;
    for (;;) {
      std::string_view view = window_.View();
      if (view.size() >= start) {
        size_t found = view.find(kHeaderEnd, from);
        if (found != std::string_view::npos) return found + kHeaderEnd.size();
        if (view.size() - start > kLongestHeader) {
          ThrowBroken("A part header is too long.");
        }
        from = std::max(start, view.size() - (kHeaderEnd.size() - 1));
      }
      if (!window_.Fill()) ThrowBroken("A part header has no end.");
    }
  }

  void BeginPart(std::string_view header) {
    // One reading of the parameter, without regard to case, both counts the
    // file input and gives its name.
    std::optional<std::string> file_name =
        cargane::FindHeaderParam(header, "filename");
    if (file_name) {
      if (file_part_counter_ == std::numeric_limits<int16_t>::max()) {
        throw StandardFailure(kOverflow);
      }
      ++file_part_counter_;
    }
    if (file_name && !file_name->empty()) {
      BeginFilePart(cargane::ExtractFileName(*file_name));
      return;
    }
    std::string field_name = cargane::GetHeaderParam(header, "name");
    if (!field_name.empty()) pending_item_ = clsFormItem{field_name, {}};
  }

  void BeginFilePart(std::string client_name) {
    stored_name_ = client_name;
    if (!request_.query_string.empty()) {
      std::string override_name = cargane::GetFieldValue(
          std::string(kServerNameField) + std::to_string(file_part_counter_),
          request_.query_string);
      // An override that CheckFileName or the extension list refuses is
      // ignored: the browser's name is used.
      stored_name_ = cargane::StoredFileName(
          client_name, override_name, [this](std::string_view name) {
            return IsFileTypeAllowed(name, request_.allowed_extensions);
          });
    }
    // A name that could leave the directory is refused like an extension.
    if (!IsFileTypeAllowed(client_name, request_.allowed_extensions) ||
        !cargane::IsSafeStoredName(stored_name_)) {
      code_ = kFileRefused;
      return;
    }
    const std::string& directory = request_.upload_directory;
    if (temporary_base_.empty()) {
      temporary_base_ = PendingFile::TemporaryBase(directory, kTemporaryPrefix);
    }
    output_file_ = std::make_unique<PendingFile>(
        directory, temporary_base_ + "." + std::to_string(++temporary_count_),
        directory + stored_name_, kTemporaryPrefix);
    file_written_ = 0;
    // The file it replaces gives its bytes back.
    file_allowance_ =
        state_.remaining_quota
            ? *state_.remaining_quota + output_file_->ReplacedBytes()
            : std::numeric_limits<int64_t>::max();
  }

  // Streams the part's content up to the next boundary, which then starts
  // the window; false when the body ends before it.
  bool ReadContent() {
    // The line break before a boundary and the start of a boundary that a
    // read cut in two stay in the window until the next read.
    size_t keep = request_.boundary.size() + 1;
    for (size_t from = 0;;) {
      std::string_view view = window_.View();
      size_t found = Find(view, from);
      // Boundary text that is no delimiter is content.
      if (found != std::string_view::npos && !IsDelimiter(found)) {
        from = found + 1;
        continue;
      }
      if (found != std::string_view::npos) {
        view = window_.View();
        // The line break before the boundary is dropped; a content shorter
        // than it breaks the part structure.
        if (found < 2)
          ThrowBroken("A part has no line break before the boundary.");
        TakeContent(view.substr(0, found - 2));
        window_.Consume(found);
        EndPart();
        return true;
      }
      if (view.size() > keep) {
        TakeContent(view.substr(0, view.size() - keep));
        window_.Consume(view.size() - keep);
      }
      from = window_.View().size() >= request_.boundary.size()
                 ? window_.View().size() - request_.boundary.size() + 1
                 : 0;
      if (!window_.Fill()) return false;
    }
  }

  void TakeContent(std::string_view content) {
    if (output_file_) {
      auto size = static_cast<int64_t>(content.size());
      // A file is refused by the quota as soon as it would pass it, before
      // the bytes are written; the rest of its content is passed over.
      if (size > file_allowance_ - file_written_) {
        output_file_.reset();
        code_ = kQuotaExceeded;
        return;
      }
      output_file_->Write(content);
      file_written_ += size;
    } else if (pending_item_) {
      std::string& value = pending_item_->Value;
      size_t room = request_.longest_field_value - value.size();
      value.append(content.substr(0, std::min(room, content.size())));
    }
  }

  void EndPart() {
    if (pending_item_) {
      state_.form_items.push_back(std::move(*pending_item_));
      pending_item_.reset();
    }
    if (output_file_) StoreFile();
  }

  void StoreFile() {
    std::unique_ptr<PendingFile> file = std::move(output_file_);
    int64_t written = file->Close();
    auto& quota = state_.remaining_quota;
    if (quota) {
      // The file it replaces gives its bytes back first.
      int64_t available = *quota + file->ReplacedBytes();
      if (available - written < 0) {
        code_ = kQuotaExceeded;
        return;
      }
      *quota = available - written;
    }
    file->Commit();
    state_.uploaded_files.push_back({stored_name_, written});
  }

  // Ends the reading: the part being written is discarded, the parts
  // finished before keep their files and records.
  int16_t Fail(const Failure& failure) {
    output_file_.reset();
    pending_item_.reset();
    state_.failure =
        failure.description + " (" + std::to_string(failure.number) + ")";
    code_ = failure.number == kPathFileAccessError ? kFileAccessFailed
                                                   : kBodyFailed;
    return code_;
  }

  const UploadRequest& request_;
  UploadState& state_;
  BodyWindow window_;
  std::boyer_moore_horspool_searcher<const char*> searcher_;
  int16_t code_ = kBodyFailed;
  int16_t file_part_counter_ = 0;
  std::unique_ptr<PendingFile> output_file_;
  // Bytes written to the open file, and the most it may take.
  int64_t file_written_ = 0;
  int64_t file_allowance_ = 0;
  std::string stored_name_;
  std::optional<clsFormItem> pending_item_;
  std::string temporary_base_;
  int64_t temporary_count_ = 0;
};

}  // namespace

int16_t ReadMultipartInput(const UploadRequest& request, const BodyInput& input,
                           UploadState& state) {
  if (request.boundary.size() <= 2) return kBodyFailed;
  return Reader(request, input, state).Run();
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

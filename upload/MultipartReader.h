// SPDX-License-Identifier: Apache-2.0
// The one reader of multipart/form-data bodies, for Cargane, Wharfpost and
// the console: it takes the body from its input in bounded reads, never
// holding it whole, stores each file part in the upload directory (through
// a PendingFile, under the extension rules, the per-file limit and the
// quota) and hands each stored file and each text field to its owner. What
// the components do differently is said by MultipartOptions.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Failure.h"
#include "upload/PendingFile.h"
#include "upload/UploadCode.h"

namespace corvane::cargane {

// Fills up to `count` bytes of `buffer`; returns how many, 0 at the end of
// the input. Throws Failure when the input cannot be read.
using BodyInput = std::function<size_t(char* buffer, size_t count)>;

// A file put in place by the reader: Wharfpost's record of it, and what
// Cargane's clsFileRecord is made from.
struct StoredFile {
  StoredFile(std::string file_name = {}, int64_t file_len = 0,
             std::string form_name = {})
      : FileName(std::move(file_name)),
        FileLen(file_len),
        FormName(std::move(form_name)) {}

  std::string FileName;  // stored name, without the directory
  int64_t FileLen = 0;
  std::string FormName;  // the form field of the file input
};

// A text field of the form: Wharfpost's record of it, and what Cargane's
// clsFormItem is made from.
struct FormField {
  std::string Name;
  std::string Value;
};

// The ways a body can be broken or cut short; each component says what
// each one makes of the upload.
enum class BodyFault {
  kNoDelimiter,         // no (further) delimiter where one must come
  kEndsAfterDelimiter,  // the body ends right after a delimiter
  kEndsInHeader,        // the body ends before a part header's blank line
  kHeaderTooLong,       // a part header passes kLongestHeader
  kNoLineBreak,         // a delimiter follows a header without a line break
  kEndsInContent,       // the body ends inside a part's content
};

// A part header longer than this is never held.
inline constexpr size_t kLongestHeader = 65536;

// Blanks allowed between a boundary and its line break (transport padding).
inline constexpr size_t kLongestPadding = 1024;

// What the text right after a boundary at a line start makes of it.
enum class DelimiterKind {
  kPart,       // blanks (at most kLongestPadding) and CR LF: a part follows
  kClosing,    // "--": the closing delimiter
  kContent,    // anything else: the boundary text is content
  kUndecided,  // the text ends before it can tell
};

struct DelimiterTail {
  DelimiterKind kind;
  // For kPart the bytes up to and including the CR LF, for kClosing 2.
  size_t length = 0;
};

// Reads the text after a boundary; cannot fail.
DelimiterTail ReadDelimiterTail(std::string_view after);

struct MultipartOptions {
  // "--" followed by the boundary; at least one character of boundary.
  std::string delimiter;
  // The upload directory, ending in "/".
  std::string directory;
  // The page address's query string, for the ServerNameN overrides.
  std::string query_string;
  // Whether a browser-given name passes the extension rules.
  std::function<bool(std::string_view)> extension_allowed;
  // The largest file that is stored (a larger one gives -4); 0 or less for
  // no limit.
  int32_t max_file_bytes = -1;
  // A text field's value is kept up to this many bytes; the rest is passed
  // over.
  size_t longest_field_value = std::numeric_limits<size_t>::max();
  // Whether a file input left empty (filename="") is a text field of its
  // name; otherwise it gives nothing.
  bool empty_file_input_is_field = false;
  // Whether a stored file's record names its form field (the header's
  // "name" is then read, and an unclosed quote in it fails).
  bool keep_form_name = false;
  // Name prefix of the temporary files.
  std::string_view temporary_prefix = PendingFile::kTemporaryPrefix;
  // Bytes asked of the input at a time.
  size_t read_size = 65536;
  // What a broken body does: the Failure to throw, or nullopt to end the
  // reading with the code reached so far.
  std::function<std::optional<Failure>(BodyFault)> on_fault;
};

// Where the reader's results go, in body order.
class MultipartResults {
 public:
  virtual ~MultipartResults() = default;
  // A complete, accepted file: the owner calls `put_in_place` (which throws
  // Failure when the file cannot be renamed into place) and records it.
  // A Failure thrown here ends the reading; the file is then not kept.
  virtual void AddFile(const StoredFile& file,
                       const std::function<void()>& put_in_place) = 0;
  // A complete text field. A Failure thrown here ends the reading.
  virtual void AddField(FormField field) = 0;
};

class MultipartReader {
 public:
  // `remaining_quota` is the bytes that may still be written, while a quota
  // is in force; the reader lowers it by each stored file (and raises it by
  // each file that a stored one replaces).
  MultipartReader(MultipartOptions options, const BodyInput& input,
                  int64_t content_length, MultipartResults& results,
                  std::optional<int64_t>& remaining_quota);
  ~MultipartReader();
  MultipartReader(const MultipartReader&) = delete;
  MultipartReader& operator=(const MultipartReader&) = delete;

  // Reads the body up to its closing delimiter, its content length or the
  // end of the input, whichever comes first, and returns the code: 1, -4
  // (a file was refused by the quota or the per-file limit), -6 (a file was
  // refused by its extension or name), or -7 when the body ended before its
  // closing delimiter. Throws Failure for a broken body (as on_fault says)
  // or a failed operation; the file part being written is then discarded,
  // the parts finished before keep their files.
  int16_t Run();

 private:
  class Window;
  struct PartHeader;

  size_t Find(std::string_view text, size_t from) const;
  DelimiterTail TailAt(size_t found);
  bool IsDelimiter(size_t found);
  // The first delimiter in the window at or after `from` that starts a line
  // and is followed by a delimiter's tail (the window may grow to tell);
  // npos when the window holds none.
  size_t FindDelimiter(size_t from);
  void Fault(BodyFault fault);
  bool SeekDelimiter();
  std::optional<size_t> FindHeaderEnd(size_t start);
  void BeginPart(std::string_view header);
  void BeginFilePart(const PartHeader& header, std::string client_name);
  bool ReadContent();
  void TakeContent(std::string_view content);
  void EndPart();
  void StoreFile();

  MultipartOptions options_;
  MultipartResults& results_;
  std::optional<int64_t>& remaining_quota_;
  std::unique_ptr<Window> window_;
  std::boyer_moore_horspool_searcher<const char*> searcher_;
  int16_t code_ = kUploadFailed;
  int16_t file_part_counter_ = 0;
  std::unique_ptr<PendingFile> output_file_;
  // Bytes written to the open file, and the most it may take.
  int64_t file_written_ = 0;
  int64_t file_allowance_ = 0;
  StoredFile file_;
  std::optional<FormField> pending_field_;
  std::string temporary_base_;
  int64_t temporary_count_ = 0;
  // Whether the part being read had content before the body ended.
  bool content_seen_ = false;
};

}  // namespace corvane::cargane

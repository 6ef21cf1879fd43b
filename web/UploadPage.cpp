// SPDX-License-Identifier: Apache-2.0
#include "web/UploadPage.h"

#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>

#include "frame/Text.h"
#include "platform/Failure.h"
#include "platform/FileSystem.h"
#include "web/BodyStream.h"
#include "web/FileFacts.h"
#include "web/FormFields.h"
#include "web/Html.h"

namespace corvane::web {
namespace {

// Numbered names tried for a file that keeps both before giving up.
constexpr int kMostNumberedNames = 1000;

// What the form held, shown again after the upload.
struct UploadForm {
  bool keep_both = false;
  std::string title;
  std::string note;
};

std::string FormHtml(const ConsoleSettings& settings, const UploadForm& form) {
  return "<form method=\"post\" action=\"/upload\" "
         "enctype=\"multipart/form-data\" id=\"upload\" data-upload "
         "data-max-bytes=\"" +
         std::to_string(settings.max_body) +
         "\">\n"
         "<label><span>Files</span><input type=\"file\" name=\"file\" "
         "id=\"files\" multiple></label>\n"
         "<p>Choose several files at once, or drop them on the form. They "
         "are stored in uploads/; the console takes at most " +
         HumanSize(settings.max_body) +
         " at once.</p>\n"
         "<fieldset><legend>When a file of the same name is there</legend>"
         "<label><input type=\"radio\" name=\"existing\" value=\"replace\" "
         "id=\"replace\"" +
         (form.keep_both ? "" : " checked") +
         "> Replace it</label>"
         "<label><input type=\"radio\" name=\"existing\" value=\"keep\" "
         "id=\"keep\"" +
         (form.keep_both ? " checked" : "") +
         "> Keep both: the new one gets a numbered name, such as "
         "<code>a (2).txt</code></label></fieldset>\n"
         "<label><span>Title</span><input type=\"text\" name=\"title\" "
         "id=\"title\" value=\"" +
         Escape(form.title) +
         "\"></label>\n"
         "<label><span>Note</span><textarea name=\"note\" id=\"note\" "
         "rows=\"3\">" +
         Escape(form.note) +
         "</textarea></label>\n"
         "<button type=\"submit\" id=\"send\">Upload</button>\n</form>\n";
}

Arguments ExtensionArguments(const std::string& list) {
  Arguments entries;
  std::stringstream items(list);
  for (std::string entry; std::getline(items, entry, ',');) {
    if (!entry.empty()) entries.emplace_back(entry);
  }
  return entries;
}

// One row per record of a collection, the listed members as cells.
std::vector<std::vector<std::string>> RecordRows(
    Dispatch& collection, const std::vector<const char*>& members) {
  std::vector<std::vector<std::string>> rows;
  for (const Variant& item : collection.Enumerate()) {
    auto record = item.ToObject();
    std::vector<std::string> row;
    for (const char* member : members)
      row.push_back(record->Get(member).ToText());
    rows.push_back(std::move(row));
  }
  return rows;
}

// The file names (their directories cut off) of every file part of a
// multipart body, the refused ones included, read from the body's pieces
// as they pass to the component; a bounded window is kept between pieces.
class SentFileNames {
 public:
  explicit SentFileNames(std::string_view boundary)
      : delimiter_("\r\n--" + std::string(boundary)) {}

  void Feed(std::string_view piece) {
    if (delimiter_.size() == 4) return;  // no boundary
    while (!piece.empty()) {
      size_t take = std::min(piece.size(), kPieceBytes);
      window_.append(piece.substr(0, take));
      piece.remove_prefix(take);
      Scan();
    }
  }

  const std::vector<std::string>& Names() const { return names_; }

 private:
  static constexpr size_t kPieceBytes = 64 * 1024;
  // A part head longer than this is not looked at.
  static constexpr size_t kMaxHeadBytes = 16 * 1024;

  void Scan() {
    for (;;) {
      if (!in_head_) {
        size_t at = window_.find(delimiter_);
        if (at == std::string::npos) {
          size_t keep = std::min(window_.size(), delimiter_.size() - 1);
          window_.erase(0, window_.size() - keep);
          return;
        }
        window_.erase(0, at + delimiter_.size());
        in_head_ = true;
      }
      size_t end = window_.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (window_.size() > kMaxHeadBytes) in_head_ = false;
        return;
      }
      TakeHead(std::string_view(window_).substr(0, end));
      window_.erase(0, end + 4);
      in_head_ = false;
    }
  }

  void TakeHead(std::string_view fields) {
    size_t name = fields.find("filename=\"");
    if (name == std::string_view::npos) return;
    name += 10;
    std::string_view value = fields.substr(name, fields.find('"', name) - name);
    size_t slash = value.find_last_of("/\\");
    if (slash != std::string_view::npos) value.remove_prefix(slash + 1);
    if (!value.empty()) names_.emplace_back(value);
  }

  std::string delimiter_;
  // The first delimiter opens the body without a line break before it.
  std::string window_ = "\r\n";
  bool in_head_ = false;
  std::vector<std::string> names_;
};

// Why the component refused the file `name`, as the end of a sentence.
std::string RefusalReason(std::string_view name,
                          const std::optional<std::string>& extensions) {
  size_t dot = name.rfind('.');
  if (extensions && dot != std::string_view::npos && dot + 1 < name.size()) {
    std::string extension = LowerCase(name.substr(dot + 1));
    std::stringstream items(LowerCase(*extensions));
    bool listed = false;
    for (std::string item; std::getline(items, item, ',');) {
      listed = listed || TrimOf(item, " .") == extension;
    }
    if (!listed) return "the extension ." + extension + " is not allowed";
  }
  return "a file of this name cannot be stored";
}

// A hidden folder in the upload folder that takes the files of one upload
// which keeps both of two files of the same name; removed with whatever
// is left in it.
class StagingFolder {
 public:
  // Throws Failure when the folder cannot be made.
  explicit StagingFolder(const std::string& upload_directory) {
    std::filesystem::create_directories(upload_directory);
    path_ =
        platform::Files().TemporaryName(upload_directory, ".corvane-upload-");
    platform::Files().CreateDirectory(path_);
  }
  ~StagingFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Moves the staged file `name` into `directory` under the first of
// "name", "name (2)", ... that is free there; its new name. Throws Failure.
std::string KeepBoth(const std::string& staging, const std::string& directory,
                     const std::string& name) {
  std::string from = staging + "/" + name;
  for (int number = 1; number <= kMostNumberedNames; ++number) {
    std::string candidate = number == 1 ? name : NumberedName(name, number);
    if (platform::PathEntryExists(directory + candidate)) continue;
    try {
      platform::Files().RenameNoReplace(from, directory + candidate);
      return candidate;
    } catch (const Failure&) {
      // Taken meanwhile: the next number is tried.
    }
  }
  throw Failure(58, "Corvane console",
                "No free numbered name is left for " + name);
}

// The names joined as "a, b, c".
std::string Listed(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Why nothing or not everything was stored, for a code other than the
// refused extension.
std::string FailureSentence(int16_t code) {
  switch (code) {
    case -4:
      return "Not every file was stored: the disk quota is used up.";
    case -5:
      return "Nothing was stored: the upload folder cannot be made.";
    case -7:
    case -9:
      return "The upload was cut short or malformed; the files after the "
             "fault were not stored.";
    case -8:
      return "A file could not be written to the disk.";
    default:
      return "The upload failed.";
  }
}

std::string UploadResultHtml(PageCall& call, UploadForm& form) {
  // The files go to a staging folder first: whether an existing file is
  // replaced depends on a field that may come after them.
  std::string directory = call.settings.UploadDirectory();
  std::optional<StagingFolder> staging;
  std::vector<std::string> sentences;
  try {
    staging.emplace(directory);
  } catch (const std::exception& failure) {
    return OutcomeHtml(false,
                       "Nothing was stored: the upload folder cannot be "
                       "written to.",
                       "<p>" + Escape(failure.what()) + "</p>");
  }
  SentFileNames sent(MultipartBoundary(ContentTypeOf(call.request)));
  if (call.stream) {
    call.stream->Watch([&sent](std::string_view piece) { sent.Feed(piece); });
  } else {
    sent.Feed(call.body);
  }
  auto context = call.Context();
  PageObject upload("Corvane.upload", context);
  upload->Put("UpLoadPath", staging->Path());
  ApplyUploadRules(*upload, call.settings);
  int16_t code = upload->Call("upload").ToInt16();
  auto items =
      RecordRows(*upload->Get("FormItems").ToObject(), {"Name", "Value"});
  // Without the field, a failed upload keeps both: a file cut short does
  // not replace a whole one.
  form.keep_both = code < 0;
  for (const auto& row : items) {
    if (row[0] == "title") form.title = row[1];
    if (row[0] == "note") form.note = row[1];
    if (row[0] == "existing") form.keep_both = row[1] == "keep";
  }
  auto files = RecordRows(*upload->Get("UploadedFiles").ToObject(),
                          {"FileName", "FormName", "FileLen"});

  std::vector<std::string> stored;
  std::vector<std::string> renamed;
  bool failed = code < 0;
  for (const auto& row : files) {
    // Two parts of one name: the component kept the later one, which the
    // first record's turn has moved already.
    if (!platform::PathEntryExists(staging->Path() + "/" + row[0])) continue;
    try {
      std::string kept = row[0];
      if (form.keep_both) {
        kept = KeepBoth(staging->Path(), directory, row[0]);
      } else {
        platform::Files().Rename(staging->Path() + "/" + row[0],
                                 directory + row[0]);
      }
      if (kept != row[0]) {
        renamed.push_back(row[0] + " was there already; the new one is " +
                          kept + ".");
      }
      stored.push_back(std::move(kept));
    } catch (const Failure& failure) {
      failed = true;
      renamed.push_back(row[0] + " was not stored: " + failure.description +
                        ".");
    }
  }
  if (!stored.empty()) {
    sentences.push_back(std::to_string(stored.size()) +
                        (stored.size() == 1 ? " file" : " files") +
                        " stored in uploads/: " + Listed(stored) + ".");
  }
  sentences.insert(sentences.end(), renamed.begin(), renamed.end());
  if (code == -6) {
    std::vector<std::string> taken;
    for (const auto& row : files) taken.push_back(row[0]);
    for (const auto& name : sent.Names()) {
      auto found = std::find(taken.begin(), taken.end(), name);
      if (found != taken.end()) {
        taken.erase(found);
        continue;
      }
      sentences.push_back(name + " was refused: " +
                          RefusalReason(name, call.settings.upload_extensions) +
                          ".");
    }
  } else if (code < 0) {
    sentences.push_back(FailureSentence(code));
  }
  if (sentences.empty()) sentences.emplace_back("No file was chosen.");

  std::string sentence;
  for (const auto& piece : sentences) {
    sentence += (sentence.empty() ? "" : " ") + Escape(piece);
  }
  std::string details = "<p>Result code <strong id=\"code\">" +
                        std::to_string(code) + "</strong></p>\n";
  if (code < 0 && upload->Get("GetLastErrNum").ToInt32() != 0) {
    std::string triple = upload.ErrorDetailsHtml();
    // The staging folder is the console's business, not the reader's.
    std::string hidden = Escape(staging->Path());
    std::string shown = Escape(directory.substr(0, directory.size() - 1));
    for (size_t at = triple.find(hidden); at != std::string::npos;
         at = triple.find(hidden, at)) {
      triple.replace(at, hidden.size(), shown);
    }
    details += triple;
  }
  details += "<h2>Stored files</h2>\n" +
             TableHtml({"File name", "Form field", "Bytes"}, files) +
             "<h2>Form items</h2>\n" + TableHtml({"Name", "Value"}, items) +
             PageTextHtml(*context);
  std::string html = OutcomeHtml(!failed, sentence, details);
  if (!stored.empty()) {
    html +=
        "<p><a href=\"/files?path=uploads\" id=\"in-files\">The stored files "
        "in Files</a></p>\n";
  }
  return html;
}

}  // namespace

void ApplyUploadRules(Dispatch& upload, const ConsoleSettings& settings) {
  upload.Put("RejectEmptyExtension", false);
  if (settings.upload_extensions) {
    upload.Call("FileExtensionList",
                ExtensionArguments(*settings.upload_extensions));
  } else {
    upload.Call("FileExtensionList");
  }
}

PageAnswer UploadPage(PageCall& call) {
  PageAnswer answer;
  answer.title = "Upload";
  UploadForm form;
  if (call.IsPost()) answer.body_html = UploadResultHtml(call, form);
  answer.body_html += FormHtml(call.settings, form);
  return answer;
}

std::vector<std::string> StoredFileNames(const ConsoleSettings& settings) {
  std::vector<std::string> names;
  for (const auto& entry :
       platform::Files().Find(settings.UploadDirectory() + "*")) {
    if (entry.attributes & (platform::kDirectory | platform::kSystem)) continue;
    names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvane::web

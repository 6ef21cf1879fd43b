// SPDX-License-Identifier: Apache-2.0
#include "web/UploadPage.h"

#include <algorithm>
#include <sstream>

#include "platform/FileSystem.h"
#include "web/Html.h"

namespace corvane::web {
namespace {

constexpr char kForm[] =
    R"(<form method="post" action="/upload" enctype="multipart/form-data">
<label><span>File 1</span><input type="file" name="file1" id="file1"></label>
<label><span>File 2</span><input type="file" name="file2" id="file2"></label>
<label><span>File 3</span><input type="file" name="file3" id="file3"></label>
<label><span>Title</span><input type="text" name="title" id="title"></label>
<label><span>Note</span><textarea name="note" id="note" rows="3"></textarea></label>
<button type="submit" id="send">Upload</button>
</form>
)";

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

std::string UploadResultHtml(PageCall& call) {
  auto context =
      HttpContext::New(call.request, call.server, std::exchange(call.body, {}));
  PageObject upload("Corvane.upload", context);
  upload->Put("UpLoadPath", call.settings.UploadDirectory());
  ApplyUploadRules(*upload, call.settings);
  int16_t code = upload->Call("upload").ToInt16();
  std::string html = "<div class=\"" + std::string(code < 0 ? "error" : "ok") +
                     "\">Result code <strong id=\"code\">" +
                     std::to_string(code) + "</strong></div>\n";
  if (code < 0) html += upload.ErrorTripleHtml();
  html += "<h2>Stored files</h2>\n" +
          TableHtml({"File name", "Form field", "Bytes"},
                    RecordRows(*upload->Get("UploadedFiles").ToObject(),
                               {"FileName", "FormName", "FileLen"}));
  html +=
      "<p><a href=\"/files?path=uploads\" id=\"in-files\">The stored files "
      "in Files</a></p>\n";
  html += "<h2>Form items</h2>\n" +
          TableHtml({"Name", "Value"},
                    RecordRows(*upload->Get("FormItems").ToObject(),
                               {"Name", "Value"}));
  return html + PageTextHtml(*context);
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
  if (call.IsPost()) answer.body_html = UploadResultHtml(call);
  answer.body_html += kForm;
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

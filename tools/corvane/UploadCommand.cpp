// corvane upload: a CGI program that stores the files of a
// multipart/form-data request with Corvane.upload and answers with JSON.
#include <iostream>
#include <sstream>
#include <utility>

#include "frame/CgiHost.h"
#include "frame/Registry.h"
#include "tools/corvane/Command.h"
#include "tools/corvane/JsonValues.h"

namespace corvane::tool {
namespace {

struct UploadSettings {
  std::string directory;
  std::optional<std::string> extensions;  // comma-separated; "*" for any
  int32_t quota = -1;
  bool allow_empty_extension = false;
  int64_t max_body = kDefaultMaxBodyBytes;
};

Arguments ExtensionArguments(const std::string& list) {
  Arguments entries;
  std::stringstream items(list);
  for (std::string entry; std::getline(items, entry, ',');) {
    if (!entry.empty()) entries.emplace_back(entry);
  }
  return entries;
}

Json ErrorJson(int32_t number, const Variant& source,
               const Variant& description) {
  return Json{{"number", number},
              {"source", JsonFromVariant(source)},
              {"description", JsonFromVariant(description)}};
}

// The answer goes out in pieces of up to 64 KiB, so that a form of many
// fields never holds a second copy of itself as one JSON document.
class AnswerWriter {
 public:
  explicit AnswerWriter(Response& response) : response_(response) {}
  ~AnswerWriter() { Flush(); }
  void Add(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kPiece) Flush();
  }
  void Flush() {
    if (!buffer_.empty()) response_.Write(std::exchange(buffer_, {}));
  }

 private:
  static constexpr size_t kPiece = 64 * 1024;
  Response& response_;
  std::string buffer_;
};

// Writes `"key":[...]` with one object per record of the collection, the
// listed members renamed.
void WriteRecords(
    AnswerWriter& out, const char* key, Dispatch& collection,
    const std::vector<std::pair<const char*, const char*>>& fields) {
  out.Add(",\"" + std::string(key) + "\":[");
  bool first = true;
  for (const Variant& item : collection.Enumerate()) {
    Json record = Json::object();
    auto object = item.ToObject();
    for (const auto& [name, member] : fields) {
      record[name] = JsonFromVariant(object->Get(member));
    }
    out.Add(first ? "" : ",");
    out.Add(record.dump());
    first = false;
  }
  out.Add("]");
}

void RunUpload(const UploadSettings& settings,
               const std::shared_ptr<CgiContext>& page) {
  auto component = CreateObject("Corvane.upload");
  component->Call("OnStartPage", {Variant(page)});
  component->Put("UpLoadPath", settings.directory);
  component->Put("UserDiskQuota", settings.quota);
  component->Put("RejectEmptyExtension", !settings.allow_empty_extension);
  if (settings.extensions) {
    component->Call("FileExtensionList",
                    ExtensionArguments(*settings.extensions));
  }
  int16_t code = component->Call("upload").ToInt16();
  AnswerWriter out(*page->Response());
  out.Add("{\"code\":" + std::to_string(code));
  WriteRecords(
      out, "files", *component->Get("UploadedFiles").ToObject(),
      {{"name", "FileName"}, {"field", "FormName"}, {"length", "FileLen"}});
  WriteRecords(out, "form", *component->Get("FormItems").ToObject(),
               {{"name", "Name"}, {"value", "Value"}});
  if (code < 0) {
    Json error = ErrorJson(component->Get("GetLastErrNum").ToInt32(),
                           component->Get("GetLastErrSource"),
                           component->Get("GetLastErrDescription"));
    out.Add(",\"error\":" + error.dump());
  }
  out.Add("}\n");
  component->Call("OnEndPage");
}

int Upload(const UploadSettings& settings) {
  auto page = CgiContext::New("application/json", settings.max_body);
  try {
    RunUpload(settings, page);
    return 0;
  } catch (const Failure& failure) {
    // Only a failure before the answer began can land here (the component
    // itself never raises from upload).
    Json answer{{"error", ErrorJson(failure.number, failure.source,
                                    failure.description)}};
    page->Response()->Write(answer.dump() + "\n");
    return 1;
  }
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto settings = std::make_shared<UploadSettings>();
  auto* command = app.add_subcommand(
      "upload",
      "CGI program: store the files of a multipart/form-data request with "
      "Corvane.upload and answer with JSON");
  command->add_option("--dir", settings->directory, "The upload directory")
      ->required();
  command->add_option("--ext", settings->extensions,
                      "Allowed extensions, comma-separated (gif,jpg), or * "
                      "for any; without it no file with an extension is "
                      "stored");
  command->add_option("--quota", settings->quota,
                      "Bytes the directory may hold; 0 or less for none");
  command->add_flag("--allow-empty-extension", settings->allow_empty_extension,
                    "Store files whose names have no extension");
  command->add_option("--max-body", settings->max_body,
                      "Largest request body read, in bytes (default 1 GiB); "
                      "a larger one is refused unread with status 413");
  command->callback(
      [settings, &exit_status] { exit_status = Upload(*settings); });
});

}  // namespace
}  // namespace corvane::tool

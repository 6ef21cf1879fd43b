// SPDX-License-Identifier: Apache-2.0
// corvane upload: a CGI program that stores the files of a
// multipart/form-data request with Corvane.upload and answers with JSON.
#include <iostream>
#include <sstream>
#include <utility>
#include <vector>

#include "frame/CgiHost.h"
#include "frame/Component.h"
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

// The error triple as an object, with "system", the system's text of the
// failure, when it has one.
Json ErrorJson(int32_t number, const Variant& source,
               const Variant& description, const std::string& system_text) {
  Json error{{"number", number},
             {"source", JsonFromVariant(source)},
             {"description", JsonFromVariant(description)}};
  if (!system_text.empty()) error["system"] = system_text;
  return error;
}

// One object per record of the collection, the listed members renamed.
Json Records(Dispatch& collection,
             const std::vector<std::pair<const char*, const char*>>& fields) {
  Json records = Json::array();
  for (const Variant& item : collection.Enumerate()) {
    Json record = Json::object();
    auto object = item.ToObject();
    for (const auto& [name, member] : fields) {
      record[name] = JsonFromVariant(object->Get(member));
    }
    records.push_back(std::move(record));
  }
  return records;
}

// The whole answer of one upload: its code, the stored files, the form
// fields and, after a failure, the component's error.
Json RunUpload(const UploadSettings& settings,
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
  Json answer = Json::object();
  answer["code"] = code;
  answer["files"] = Records(
      *component->Get("UploadedFiles").ToObject(),
      {{"name", "FileName"}, {"field", "FormName"}, {"length", "FileLen"}});
  answer["form"] = Records(*component->Get("FormItems").ToObject(),
                           {{"name", "Name"}, {"value", "Value"}});
  if (code < 0) {
    answer["error"] = ErrorJson(component->Get("GetLastErrNum").ToInt32(),
                                component->Get("GetLastErrSource"),
                                component->Get("GetLastErrDescription"),
                                LastSystemText(*component));
  }
  component->Call("OnEndPage");
  return answer;
}

// The answer is built whole before any of it is written, so that a failure
// gives one error object and never follows half an answer.
int Upload(const UploadSettings& settings) {
  auto page = CgiContext::New("application/json", settings.max_body);
  Json answer;
  int status = 0;
  try {
    answer = RunUpload(settings, page);
  } catch (const Failure& failure) {
    answer =
        Json{{"error", ErrorJson(failure.number, failure.source,
                                 failure.description, failure.system_text)}};
    status = 1;
  }
  page->Response()->Write(
      answer.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n");
  return status;
}

CommandRegistration registration([](CLI::App& app, int& exit_status) {
  auto settings = std::make_shared<UploadSettings>();
  auto* command = app.add_subcommand(
      "upload",
      "CGI program: store the files of a multipart/form-data request with "
      "Corvane.upload and answer with JSON");
  command->footer(
      "Example (a CGI wrapper script that the web server runs):\n"
      "  exec corvane upload --dir /srv/uploads --ext gif,jpg,png");
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

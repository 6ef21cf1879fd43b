// SPDX-License-Identifier: Apache-2.0
// corvane upload: a CGI program that stores the files of a
// multipart/form-data request with Corvane.upload and answers with JSON.
#include <algorithm>
#include <iostream>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/CgiHost.h"
#include "frame/Collection.h"
#include "frame/Component.h"
#include "frame/Registry.h"
#include "platform/Memory.h"
#include "tools/corvane/Command.h"
#include "tools/corvane/JsonValues.h"
#include "tools/corvane/TextCodec.h"

namespace corvane::tool {
namespace {

// Blocks the allocator maps on their own, and what it keeps free for reuse.
constexpr size_t kMappedFrom = 1024 * 1024;
constexpr size_t kKeptFree = 64 * 1024 * 1024;

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

// The JSON text of a value, as every answer of this command writes it.
std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Whether JsonText writes the text as it is between quotes: UTF-8 without
// control characters, quotes or backslashes.
bool IsPlainJsonText(std::string_view text) {
  bool ascii = true;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || c == '"' || c == '\\') return false;
    ascii = ascii && byte < 0x80;
  }
  return ascii || IsValidUtf8(text);
}

// An answer built whole before any of it is written, in blocks of a fixed
// size: it grows without copying what it holds (an upload of many fields
// gives an answer of megabytes), and is written block by block.
class Answer {
 public:
  Answer& operator+=(std::string_view text) {
    if (!blocks_.empty() &&
        text.size() <= kBlockBytes - blocks_.back().size()) {
      blocks_.back().append(text);
      return *this;
    }
    while (!text.empty()) {
      if (blocks_.empty() || blocks_.back().size() == kBlockBytes) {
        blocks_.emplace_back().reserve(kBlockBytes);
      }
      std::string& block = blocks_.back();
      size_t taken = std::min(text.size(), kBlockBytes - block.size());
      block.append(text.substr(0, taken));
      text.remove_prefix(taken);
    }
    return *this;
  }
  // Hands each block over (the answer is empty afterwards).
  void WriteTo(Response& response) {
    for (std::string& block : blocks_)
      response.Write(Variant(std::move(block)));
    blocks_.clear();
  }

 private:
  static constexpr size_t kBlockBytes = 65536;
  std::vector<std::string> blocks_;
};

// Appends the value as JsonText(JsonFromVariant(value)) writes it; plain
// text is copied without a JSON value in between, which spares an upload of
// many fields most of the work of its answer.
void AppendJson(Answer& out, const Variant& value) {
  const auto* text = std::get_if<std::string>(&value.value());
  if (text != nullptr && IsPlainJsonText(*text)) {
    out += "\"";
    out += *text;
    out += "\"";
    return;
  }
  out += JsonText(JsonFromVariant(value));
}

// Appends an array with one object per record of the collection, the listed
// members renamed.
void AppendRecords(
    Answer& out, Dispatch& collection,
    const std::vector<std::pair<const char*, const char*>>& fields) {
  // What goes before each member's value: {"name": for the first, ,"name":
  // for the others.
  std::vector<std::string> heads;
  heads.reserve(fields.size());
  for (const auto& [name, member] : fields) {
    heads.push_back((heads.empty() ? "{\"" : ",\"") + std::string(name) +
                    "\":");
  }
  // Members are looked up by name once per class, then by position.
  const ClassInfo* looked_up = nullptr;
  std::vector<int> positions(fields.size());
  // The component's own collection is read in place, not copied.
  std::vector<Variant> copied;
  const auto* list = dynamic_cast<const Collection*>(&collection);
  if (list == nullptr) copied = collection.Enumerate();
  out += "[";
  bool first_record = true;
  Arguments none;
  for (const Variant& item : list != nullptr ? list->Items() : copied) {
    if (!first_record) out += ",";
    first_record = false;
    auto object = item.ToObject();
    const ClassInfo& info = object->Class();
    if (&info != looked_up) {
      for (size_t i = 0; i < fields.size(); ++i) {
        positions[i] = info.Find(fields[i].second);
      }
      looked_up = &info;
    }
    for (size_t i = 0; i < fields.size(); ++i) {
      out += heads[i];
      AppendJson(out, object->Invoke(positions[i], Invocation::kGet, none));
    }
    out += "}";
  }
  out += "]";
}

// The whole answer of one upload as JSON text: its code, the stored files,
// the form fields and, after a failure, the component's error.
Answer RunUpload(const UploadSettings& settings,
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
  Answer answer;
  answer += "{\"code\":" + std::to_string(code) + ",\"files\":";
  AppendRecords(
      answer, *component->Get("UploadedFiles").ToObject(),
      {{"name", "FileName"}, {"field", "FormName"}, {"length", "FileLen"}});
  answer += ",\"form\":";
  AppendRecords(answer, *component->Get("FormItems").ToObject(),
                {{"name", "Name"}, {"value", "Value"}});
  if (code < 0) {
    answer += ",\"error\":";
    answer += JsonText(ErrorJson(component->Get("GetLastErrNum").ToInt32(),
                                 component->Get("GetLastErrSource"),
                                 component->Get("GetLastErrDescription"),
                                 LastSystemText(*component)));
  }
  answer += "}\n";
  component->Call("OnEndPage");
  return answer;
}

// The answer is built whole before any of it is written, so that a failure
// gives one error object and never follows half an answer.
int Upload(const UploadSettings& settings) {
  // The run is short: memory freed on the way (the body's pieces, the
  // answer's blocks) stays for the next use instead of going back to the
  // system and being faulted in again.
  (void)platform::KeepFreedMemory(kMappedFrom, kKeptFree);
  auto page = CgiContext::New("application/json", settings.max_body);
  Answer answer;
  int status = 0;
  try {
    answer = RunUpload(settings, page);
  } catch (const Failure& failure) {
    answer = Answer();
    answer += JsonText(
        Json{{"error", ErrorJson(failure.number, failure.source,
                                 failure.description, failure.system_text)}});
    answer += "\n";
    status = 1;
  }
  answer.WriteTo(*page->Response());
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

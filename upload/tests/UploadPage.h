// SPDX-License-Identifier: Apache-2.0
// Builds multipart bodies and runs them through an `upload` object bound to
// a MemoryHost page, for the upload tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame/MemoryHost.h"
#include "upload/clsFileRecord.h"
#include "upload/clsFormItem.h"
#include "upload/upload.h"

namespace corvane::cargane::testing {

inline constexpr const char* kContentType =
    "multipart/form-data; boundary=AaB03x";

inline std::string FilePart(const std::string& field,
                            const std::string& filename,
                            const std::string& content) {
  return "--AaB03x\r\nContent-Disposition: form-data; name=\"" + field +
         "\"; filename=\"" + filename +
         "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content +
         "\r\n";
}

inline std::string TextPart(const std::string& field,
                            const std::string& value) {
  return "--AaB03x\r\nContent-Disposition: form-data; name=\"" + field +
         "\"\r\n\r\n" + value + "\r\n";
}

inline const std::string kClosing = "--AaB03x--\r\n";

struct StoredRecord {
  std::string file_name, form_name;
  int32_t length;
  bool operator==(const StoredRecord&) const = default;
};

struct Page {
  std::shared_ptr<upload> object = std::make_shared<upload>();

  explicit Page(const std::string& directory = {}) {
    object->UpLoadPath(directory);
    object->FileExtensionList({});
  }
  int16_t Run(std::string body, const std::string& query = {},
              const std::string& content_type = kContentType) {
    auto context = MemoryContext::New(
        {std::move(body), query, {{"CONTENT_TYPE", content_type}}});
    object->OnStartPage(context);
    int16_t code = object->Upload();
    object->OnEndPage();
    return code;
  }
  std::vector<StoredRecord> Files() {
    std::vector<StoredRecord> records;
    for (const Variant& item : object->UploadedFiles()->Items()) {
      auto record = std::dynamic_pointer_cast<clsFileRecord>(item.ToObject());
      records.push_back({record->FileName, record->FormName, record->FileLen});
    }
    return records;
  }
  std::vector<std::pair<std::string, std::string>> Items() {
    std::vector<std::pair<std::string, std::string>> items;
    for (const Variant& item : object->FormItems()->Items()) {
      auto field = std::dynamic_pointer_cast<clsFormItem>(item.ToObject());
      items.emplace_back(field->Name, field->Value);
    }
    return items;
  }
};

}  // namespace corvane::cargane::testing

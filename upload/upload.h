// SPDX-License-Identifier: Apache-2.0
// Cargane's public class `upload` (ProgID Corvane.upload): takes the body of
// a multipart/form-data request from the page host, stores its files in
// UpLoadPath under the extension list and the disk quota, and exposes the
// stored files and the text fields as collections.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Collection.h"
#include "frame/Component.h"
#include "upload/UploadCode.h"

namespace corvane::cargane {

// Source of every failure the component records.
inline constexpr std::string_view kSource = "Cargane";

class upload : public ComponentClass<upload> {
 public:
  static ClassInfo Members();
  upload() : ComponentClass(kSource) {}

  // Keeps the context and its request and response; 13 when the value holds
  // another kind of object, 424 when it holds none.
  void OnStartPage(const Variant& PassedScriptingContext) override;
  // Drops the context, the request and the response. Cannot fail.
  void OnEndPage() override;
  // The method `upload` (C++ keeps the class's own name for constructors):
  // parses the request body and returns its code; never raises. The
  // codes are listed in UploadCode (-2 and -3 are Wharfpost's alone).
  [[nodiscard]] int16_t Upload();
  // Vets a page-given name; empty when refused (see FileNameRules.h).
  [[nodiscard]] std::string CheckFileName(std::string& sFileName);
  // The browser's name without its directory; empty on failure.
  [[nodiscard]] std::string ExtractFileName(std::string_view PathName);
  // Replaces the extension list by the arguments (as text), or by "*" when
  // there are none; 13 for an argument that is not text, the list unchanged.
  void FileExtensionList(const Arguments& ParamFileExtentionList);

  // Properties, stored and returned unchanged unless said otherwise; none
  // can fail.
  int32_t UserDiskQuota() const { return user_disk_quota_; }
  void UserDiskQuota(int32_t value) { user_disk_quota_ = value; }
  int32_t MaxFileBytes() const { return max_file_bytes_; }
  void MaxFileBytes(int32_t value) { max_file_bytes_ = value; }
  bool RejectEmptyExtension() const { return reject_empty_extension_; }
  void RejectEmptyExtension(bool value) { reject_empty_extension_ = value; }
  std::string UpLoadPath() const { return upload_path_; }
  // An empty value is ignored; others gain a trailing "/".
  void UpLoadPath(std::string_view value);
  // The object's collections, made empty on first use; never nullptr.
  std::shared_ptr<Collection> UploadedFiles();
  std::shared_ptr<Collection> FormItems();
  std::shared_ptr<Collection> Form();
  int16_t NumOfUploadedFiles() const { return num_of_uploaded_files_; }

  // Whether a file of this browser-given name passes the extension rules.
  bool IsExtensionAllowed(std::string_view client_name) const;

 private:
  int16_t ProcessRequest();

  std::shared_ptr<Collection> uploaded_files_;
  std::shared_ptr<Collection> form_items_;
  std::shared_ptr<Collection> form_;
  int16_t num_of_uploaded_files_ = 0;
  bool reject_empty_extension_ = true;
  std::shared_ptr<Request> request_;
  std::shared_ptr<Response> response_;
  std::string upload_path_;
  std::vector<std::string> extension_list_;
  int32_t user_disk_quota_ = -1;
  int32_t max_file_bytes_ = -1;
};

}  // namespace corvane::cargane

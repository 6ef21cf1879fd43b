// SPDX-License-Identifier: Apache-2.0
#include "upload/upload.h"

#include <limits>

#include "upload/FileNameRules.h"
#include "upload/GetHeaderParam.h"
#include "upload/MultipartUpload.h"
#include "upload/modMain.h"

namespace corvane::cargane {
namespace {

std::shared_ptr<Collection>& Created(std::shared_ptr<Collection>& collection) {
  if (!collection) collection = Collection::New();
  return collection;
}

}  // namespace

ClassInfo upload::Members() {
  using T = upload;
  return ClassBuilder<T>("upload")
      .Method("OnStartPage",
              [](T& o, const Variant& context) { o.OnStartPage(context); })
      .Method("OnEndPage", [](T& o) { o.OnEndPage(); })
      .Method("upload", [](T& o) { return o.Upload(); })
      .Method("CheckFileName",
              [](T& o, Variant& sFileName) {
                std::string name = sFileName.ToText();
                std::string result = o.CheckFileName(name);
                sFileName = name;
                return result;
              })
      .Method("ExtractFileName",
              [](T& o, const Variant& PathName) {
                try {
                  return o.ExtractFileName(PathName.ToText());
                } catch (...) {
                  return std::string();
                }
              })
      .Method("FileExtensionList",
              [](T& o, const Arguments& ParamFileExtentionList) {
                o.FileExtensionList(ParamFileExtentionList);
              })
      .Property(
          "UserDiskQuota", [](T& o) { return o.UserDiskQuota(); },
          [](T& o, int32_t v) { o.UserDiskQuota(v); })
      .Property(
          "MaxFileBytes", [](T& o) { return o.MaxFileBytes(); },
          [](T& o, int32_t v) { o.MaxFileBytes(v); })
      .Property(
          "RejectEmptyExtension", [](T& o) { return o.RejectEmptyExtension(); },
          [](T& o, bool v) { o.RejectEmptyExtension(v); })
      .Property(
          "UpLoadPath", [](T& o) { return o.UpLoadPath(); },
          [](T& o, std::string_view v) { o.UpLoadPath(v); })
      .ErrorMembers()
      .Get("UploadedFiles", [](T& o) { return o.UploadedFiles(); })
      .Get("FormItems", [](T& o) { return o.FormItems(); })
      .Get("Form", [](T& o) { return o.Form(); })
      .Get("NumOfUploadedFiles", [](T& o) { return o.NumOfUploadedFiles(); })
      .Build();
}

void upload::OnStartPage(const Variant& PassedScriptingContext) {
  auto context = ContextFrom(PassedScriptingContext);
  if (!context) throw StandardFailure(kObjectRequired);
  auto request = context->Request();
  auto response = context->Response();
  HoldPage(std::move(context));
  request_ = std::move(request);
  response_ = std::move(response);
}

void upload::OnEndPage() {
  Component::OnEndPage();
  request_.reset();
  response_.reset();
}

std::string upload::CheckFileName(std::string& sFileName) {
  return cargane::CheckFileName(sFileName);
}

std::string upload::ExtractFileName(std::string_view PathName) {
  return cargane::ExtractFileName(PathName);
}

void upload::FileExtensionList(const Arguments& ParamFileExtentionList) {
  std::vector<std::string> list;
  for (const Variant& entry : ParamFileExtentionList) {
    if (!entry.IsMissing()) list.push_back(entry.ToText());
  }
  // No argument at all allows every extension.
  if (list.empty()) list.push_back("*");
  extension_list_ = std::move(list);
}

void upload::UpLoadPath(std::string_view value) {
  if (value.empty()) return;
  std::string path(value);
  upload_path_ = AddBackslash(path);
}

std::shared_ptr<Collection> upload::UploadedFiles() {
  return Created(uploaded_files_);
}

std::shared_ptr<Collection> upload::FormItems() { return Created(form_items_); }

std::shared_ptr<Collection> upload::Form() { return Created(form_); }

bool upload::IsExtensionAllowed(std::string_view client_name) const {
  return ExtensionAllowed(client_name, extension_list_,
                          reject_empty_extension_);
}

int16_t upload::Upload() {
  return Guarded([&] { return ProcessRequest(); },
                 [](const Failure& failure) {
                   return failure.number == kPathFileAccessError
                              ? kAccessFailed
                              : kUploadFailed;
                 });
}

int16_t upload::ProcessRequest() {
  if (!request_) throw StandardFailure(kObjectRequired);
  int32_t total = request_->TotalBytes();
  if (total == 0) return kUploadDone;
  // The body is read in pieces; the first one comes before anything else
  // is looked at, as a host that refuses the body fails at once.
  std::string first_piece = MultipartUpload::ReadFirstPiece(*request_, total);

  std::string boundary =
      GetHeaderParam(request_->ServerVariables("CONTENT_TYPE"), "boundary");
  if (boundary.empty()) return kNoBoundary;
  std::string delimiter = "--" + boundary;
  if (delimiter.size() > size_t{std::numeric_limits<int16_t>::max()}) {
    throw StandardFailure(kOverflow);
  }

  // Without a directory of the page's choosing nothing is written (not to
  // the file-system root, where an empty path would lead).
  if (upload_path_.empty()) return kPathNotCreated;
  upload_path_ = CreateFullPath(upload_path_);
  if (upload_path_.empty()) return kPathNotCreated;

  // The quota is counted in 64 bits, so a directory of any size that is
  // over it refuses.
  std::optional<int64_t> allowance;
  if (user_disk_quota_ > 0) {
    allowance =
        int64_t{user_disk_quota_} - DirectoryBytes(upload_path_).value_or(0);
    if (*allowance <= 0) return kQuotaExceeded;
  }

  UploadTarget target{
      .request = *request_,
      .directory = upload_path_,
      .extension_allowed =
          [this](std::string_view name) { return IsExtensionAllowed(name); },
      .max_file_bytes = max_file_bytes_,
      .uploaded_files = *UploadedFiles(),
      .form_items = *FormItems(),
      .form = *Form(),
      .stored_count = num_of_uploaded_files_,
      .total_bytes = total};
  MultipartUpload parts(std::move(target), std::move(first_piece),
                        std::move(delimiter), allowance);
  return parts.Run();
}

}  // namespace corvane::cargane

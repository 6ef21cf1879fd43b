// One stored file of an upload, as the page reads it from UploadedFiles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "frame/Dispatch.h"

namespace corvane::cargane {

class clsFileRecord : public DispatchClass<clsFileRecord> {
 public:
  static ClassInfo Members();
  static std::shared_ptr<clsFileRecord> New() {
    return std::make_shared<clsFileRecord>();
  }

  // Plain properties; none can fail.
  std::string FileName() const { return file_name_; }
  void FileName(std::string_view value) { file_name_ = value; }
  std::string FormName() const { return form_name_; }
  void FormName(std::string_view value) { form_name_ = value; }
  int32_t FileLen() const { return file_len_; }
  void FileLen(int32_t value) { file_len_ = value; }

 private:
  std::string file_name_;
  std::string form_name_;
  int32_t file_len_ = 0;
};

}  // namespace corvane::cargane

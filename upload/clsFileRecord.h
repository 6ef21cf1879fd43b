// SPDX-License-Identifier: Apache-2.0
// One stored file of an upload, as the page reads it from UploadedFiles.
#pragma once

#include <cstdint>
#include <string>

#include "frame/Record.h"

namespace corvane::cargane {

class clsFileRecord : public Record<clsFileRecord> {
 public:
  static ClassInfo Members() {
    return ClassBuilder<clsFileRecord>("clsFileRecord")
        .Field("FileName", &clsFileRecord::FileName)
        .Field("FormName", &clsFileRecord::FormName)
        .Field("FileLen", &clsFileRecord::FileLen)
        .Build();
  }

  std::string FileName;
  std::string FormName;
  int32_t FileLen = 0;
};

}  // namespace corvane::cargane

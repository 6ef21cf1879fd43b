// SPDX-License-Identifier: Apache-2.0
// The record of one directory entry that is not a directory, as ReadDir and
// GetFileInfo fill it; DateTime and LastWriteTime are one stored text.
#pragma once

#include <cstdint>
#include <string>

#include "frame/Record.h"

namespace corvane::vantry {

class CFile : public Record<CFile> {
 public:
  static ClassInfo Members() {
    return ClassBuilder<CFile>("CFile")
        .Field("Name", &CFile::Name)
        .Field("DateTime", &CFile::LastWriteTime)
        .Field("Attr", &CFile::Attr)
        .Field("Length", &CFile::Length)
        .Field("CreationTime", &CFile::CreationTime)
        .Field("LastWriteTime", &CFile::LastWriteTime)
        .Field("LastAccessTime", &CFile::LastAccessTime)
        .Build();
  }

  int32_t Length = 0;
  std::string Name;
  int16_t Attr = 0;
  std::string CreationTime;
  std::string LastAccessTime;
  std::string LastWriteTime;
};

}  // namespace corvane::vantry

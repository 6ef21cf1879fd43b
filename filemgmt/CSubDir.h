// SPDX-License-Identifier: Apache-2.0
// The record of one subdirectory entry as ReadDir fills it; DateTime is the
// directory's creation time.
#pragma once

#include <cstdint>
#include <string>

#include "frame/Record.h"

namespace corvane::vantry {

class CSubDir : public Record<CSubDir> {
 public:
  static ClassInfo Members() {
    return ClassBuilder<CSubDir>("CSubDir")
        .Field("Name", &CSubDir::Name)
        .Field("DateTime", &CSubDir::DateTime)
        .Field("Attr", &CSubDir::Attr)
        .Build();
  }

  std::string Name;
  std::string DateTime;
  int16_t Attr = 0;
};

}  // namespace corvane::vantry

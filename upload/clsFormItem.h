// SPDX-License-Identifier: Apache-2.0
// One text field of an uploaded form, as the page reads it from FormItems.
#pragma once

#include <string>

#include "frame/Record.h"

namespace corvane::cargane {

class clsFormItem : public Record<clsFormItem> {
 public:
  static ClassInfo Members() {
    return ClassBuilder<clsFormItem>("clsFormItem")
        .Field("Name", &clsFormItem::Name)
        .Field("Value", &clsFormItem::Value)
        .Build();
  }

  std::string Name;
  std::string Value;
};

}  // namespace corvane::cargane

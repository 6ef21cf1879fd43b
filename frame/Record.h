// SPDX-License-Identifier: Apache-2.0
// Record classes: property bags whose properties each get and let one
// public data member. A record declares its members and its table:
//   class clsFormItem : public Record<clsFormItem> {
//    public:
//     static ClassInfo Members() {
//       return ClassBuilder<clsFormItem>("clsFormItem")
//           .Field("Name", &clsFormItem::Name)
//           .Field("Value", &clsFormItem::Value)
//           .Build();
//     }
//     std::string Name;
//     std::string Value;
//   };
#pragma once

#include <memory>

#include "frame/Dispatch.h"

namespace corvane {

template <class T>
class Record : public DispatchClass<T> {
 public:
  // A record with every field at its initial value; throws std::bad_alloc
  // only.
  static std::shared_ptr<T> New() { return std::make_shared<T>(); }
};

}  // namespace corvane

#include "upload/clsFormItem.h"

namespace corvane::cargane {

ClassInfo clsFormItem::Members() {
  using T = clsFormItem;
  return ClassBuilder<T>("clsFormItem")
      .Property(
          "Name", [](T& o) { return o.Name(); },
          [](T& o, std::string_view v) { o.Name(v); })
      .Property(
          "Value", [](T& o) { return o.Value(); },
          [](T& o, std::string_view v) { o.Value(v); })
      .Build();
}

}  // namespace corvane::cargane

#include "upload/clsFileRecord.h"

namespace corvane::cargane {

ClassInfo clsFileRecord::Members() {
  using T = clsFileRecord;
  return ClassBuilder<T>("clsFileRecord")
      .Property(
          "FileName", [](T& o) { return o.FileName(); },
          [](T& o, std::string_view v) { o.FileName(v); })
      .Property(
          "FormName", [](T& o) { return o.FormName(); },
          [](T& o, std::string_view v) { o.FormName(v); })
      .Property(
          "FileLen", [](T& o) { return o.FileLen(); },
          [](T& o, int32_t v) { o.FileLen(v); })
      .Build();
}

}  // namespace corvane::cargane

// One text field of an uploaded form, as the page reads it from FormItems.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "frame/Dispatch.h"

namespace corvane::cargane {

class clsFormItem : public DispatchClass<clsFormItem> {
 public:
  static ClassInfo Members();
  static std::shared_ptr<clsFormItem> New() {
    return std::make_shared<clsFormItem>();
  }

  // Plain properties; none can fail.
  std::string Name() const { return name_; }
  void Name(std::string_view value) { name_ = value; }
  std::string Value() const { return value_; }
  void Value(std::string_view value) { value_ = value; }

 private:
  std::string name_;
  std::string value_;
};

}  // namespace corvane::cargane

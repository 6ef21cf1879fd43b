// SPDX-License-Identifier: Apache-2.0
// The fields of a form posted as application/x-www-form-urlencoded, in the
// order they came, with bounds on their number and sizes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::web {

// Raised for a form over the bounds; the page answers 413.
struct FormTooLarge : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class FormFields {
 public:
  static constexpr size_t kMaxFields = 1000;
  static constexpr size_t kMaxValueBytes = 1024 * 1024;

  FormFields() = default;
  // Parses the body; throws FormTooLarge past kMaxFields fields or a name or
  // value of more than kMaxValueBytes bytes.
  static FormFields Parse(std::string_view body);

  // The first value of `name`; empty when the field is missing.
  std::string Value(std::string_view name) const;
  // Every value of `name`, in order; empty when the field is missing.
  std::vector<std::string> Values(std::string_view name) const;

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// The multipart boundary of a Content-Type, its quotes taken off; empty when
// it names none.
std::string MultipartBoundary(std::string_view content_type);

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
#include "web/FormFields.h"

#include <httplib.h>

#include "frame/Text.h"

namespace corvane::web {
namespace {

std::string Decoded(std::string_view text) {
  if (text.size() > FormFields::kMaxValueBytes) {
    throw FormTooLarge("a form field is too large");
  }
  return httplib::detail::decode_url(std::string(text), true);
}

}  // namespace

FormFields FormFields::Parse(std::string_view body) {
  FormFields form;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    std::string_view pair = body.substr(start, end - start);
    start = end + 1;
    if (pair.empty()) continue;
    if (form.fields_.size() == kMaxFields) {
      throw FormTooLarge("the form has too many fields");
    }
    size_t equals = pair.find('=');
    std::string_view name = pair.substr(0, equals);
    std::string_view value = equals == std::string_view::npos
                                 ? std::string_view()
                                 : pair.substr(equals + 1);
    form.fields_.emplace_back(Decoded(name), Decoded(value));
  }
  return form;
}

std::string FormFields::Value(std::string_view name) const {
  for (const auto& [key, value] : fields_) {
    if (key == name) return value;
  }
  return {};
}

std::vector<std::string> FormFields::Values(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, value] : fields_) {
    if (key == name) values.push_back(value);
  }
  return values;
}

std::string MultipartBoundary(std::string_view content_type) {
  size_t at = FindIgnoringCase(content_type, "boundary=");
  if (at == std::string_view::npos) return {};
  std::string_view boundary = content_type.substr(at + 9);
  boundary = boundary.substr(0, boundary.find(';'));
  while (!boundary.empty() && boundary.back() == ' ') boundary.remove_suffix(1);
  if (boundary.size() >= 2 && boundary.front() == '"' &&
      boundary.back() == '"') {
    boundary = boundary.substr(1, boundary.size() - 2);
  }
  return std::string(boundary);
}

}  // namespace corvane::web

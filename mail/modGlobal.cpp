// SPDX-License-Identifier: Apache-2.0
#include "mail/modGlobal.h"

#include "base64/Tallowin.h"

namespace corvane::penrill {

std::string GetFileName(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string GetPathExtension(std::string_view path) {
  size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return std::string(path);
  return std::string(path.substr(dot + 1));
}

int64_t GetEncodedLength(int64_t count) { return Base64EncodeLength(count); }

}  // namespace corvane::penrill

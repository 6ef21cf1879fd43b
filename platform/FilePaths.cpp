// SPDX-License-Identifier: Apache-2.0
#include "platform/FilePaths.h"

#include <cerrno>

#include "platform/Failure.h"

namespace corvane::platform {

std::string PathText(std::string_view path) {
  std::string text;
  text.reserve(path.size());
  for (char c : path) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return text;
}

void ThrowErrno(std::string_view path) {
  throw FailureFromErrno(errno, PathText(path));
}

std::string LastComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t slash = path.rfind('/');
  return PathText(slash == std::string_view::npos || path.size() == 1
                      ? path
                      : path.substr(slash + 1));
}

std::string DirectoryPart(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string()
                                         : PathText(path.substr(0, slash + 1));
}

}  // namespace corvane::platform

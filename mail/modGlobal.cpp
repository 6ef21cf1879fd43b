#include "mail/modGlobal.h"

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

int64_t GetEncodedLength(int64_t count) {
  if (count <= 0) return 0;
  // Four characters per started group; a CR LF after every 54 input bytes
  // except after the last run.
  int64_t length = 4 * ((count + 2) / 3) + 2 * (count / 54);
  if (count % 54 == 0) length -= 2;
  return length;
}

}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary cookie headers to Wharfpost's cookie reader: the first
// line of the input is the cookie's name, the rest HTTP_COOKIE. No crash,
// and the value found (decoded, "+" read as a blank) is never longer than
// the header could make it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/modCGI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  input = input.substr(0, input.find('\0'));  // an environment holds no NUL
  size_t line_end = input.find('\n');
  std::string name(input.substr(0, line_end));
  std::string cookies(
      line_end == std::string_view::npos ? "" : input.substr(line_end + 1));
  setenv("HTTP_COOKIE", cookies.c_str(), 1);
  std::string value = corvane::wharfpost::GetCookieValue(name);
  if (value.size() > 3 * cookies.size()) std::abort();
  return 0;
}

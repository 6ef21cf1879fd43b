#include "upload/GetHeaderParam.h"

#include "platform/Failure.h"

namespace corvane::cargane {

std::string GetHeaderParam(std::string_view header, std::string_view name) {
  constexpr std::string_view kOpening = "=\"";
  size_t start = header.find(name);
  while (start != std::string_view::npos &&
         header.substr(start + name.size(), kOpening.size()) != kOpening) {
    start = header.find(name, start + 1);
  }
  if (start == std::string_view::npos) return {};
  start += name.size() + kOpening.size();
  size_t end = header.find('"', start);
  if (end == std::string_view::npos) throw StandardFailure(kInvalidCall);
  return std::string(header.substr(start, end - start));
}

}  // namespace corvane::cargane

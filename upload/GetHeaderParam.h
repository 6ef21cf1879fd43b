// Reads a quoted parameter out of a multipart part header; shared by the
// upload component and the upload gateway program.
#pragma once

#include <string>
#include <string_view>

namespace corvane::cargane {

// The value of the first `name="..."` in the header (the name is matched
// case-sensitively, anywhere, so "name" also matches inside "filename");
// empty when there is none. Throws Failure 5 when the closing quote is
// missing.
std::string GetHeaderParam(std::string_view header, std::string_view name);

}  // namespace corvane::cargane

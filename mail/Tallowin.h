// SPDX-License-Identifier: Apache-2.0
// The mail component's binding to the Tallowin Base64 library: loaded by
// file name at the first Base64 body or attachment of the process, first
// from the folder of the mail component's own library, then through the
// loader's search path.
#pragma once

#include <string>
#include <string_view>

#include "base64/TallowinBinding.h"

namespace corvane::penrill {

// The process's binding, loading the library beside the mail component.
tallowin::Binding& Tallowin();

// Appends Tallowin's line-broken Base64 text of `bytes` to `out`, written
// straight into `out`. Throws Failure: 53 "File not found: libtallowin.so"
// or 453 when the library or its export is missing, 6 for more than
// 2147483647 bytes.
void AppendBase64(std::string_view bytes, std::string& out);

}  // namespace corvane::penrill

// SPDX-License-Identifier: Apache-2.0
// Paths as the platform's file-system sources show them in failure texts
// and cut them into a directory part and a last level. For platform/ only.
#pragma once

#include <string>
#include <string_view>

namespace corvane::platform {

// A path as a failure text shows it: a NUL character, which the system
// never sees, is shown as "\0". Never fails.
std::string PathText(std::string_view path);

// Throws the Failure for the current errno value, naming `path`.
[[noreturn]] void ThrowErrno(std::string_view path);

// The last level of `path` (trailing separators ignored; "/" stays "/"),
// as PathText shows it. Never fails.
std::string LastComponent(std::string_view path);

// `path` up to and including its last separator, as PathText shows it;
// empty when it has none. Never fails.
std::string DirectoryPart(std::string_view path);

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// Keeps the upload directory that a request names inside the directory that
// the administrator configured, whatever the request's cookie says.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::wharfpost {

// The real path (ending with "/") of the directory that `requested` names
// under `root`: "\" reads as "/", a relative name is taken from the root, an
// absolute one must lie inside it, "." and ".." are resolved and no symbolic
// link may lead out. Missing levels are created only after the part that
// exists was found inside the root. nullopt, with nothing created outside
// the root, when the root is not an absolute existing directory, the
// directory lies outside it, or it cannot be created.
std::optional<std::string> ConfinedUploadDirectory(std::string_view root,
                                                   std::string_view requested);

}  // namespace corvane::wharfpost

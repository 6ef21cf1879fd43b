// SPDX-License-Identifier: Apache-2.0
// Reading a secret from the user: from the terminal without echo, or from
// standard input when it is not a terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/Export.h"

namespace corvane::platform {

// Whether standard input is a terminal.
CORVANE_API bool InputIsTerminal();

// One line of standard input without its line end; on a terminal `prompt`
// goes to standard error first and the typed text is not echoed. nullopt
// at the end of input. Throws Failure on a read error.
CORVANE_API std::optional<std::string> ReadSecretLine(std::string_view prompt);

// Makes the files this process creates from now on readable by its user
// only (umask 077). Cannot fail.
CORVANE_API void KeepNewFilesPrivate();

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
// The console's one script, served as /console.js: it sends the forms
// marked data-upload in the background with a progress bar and takes
// dropped files. Every page works without it.
#pragma once

#include <string>
#include <string_view>

namespace corvane::web {

// The script's text.
std::string_view ConsoleScript();

// The address pages load the script from: /console.js with a version of
// its text, so that browsers may keep it for good.
const std::string& ConsoleScriptPath();

}  // namespace corvane::web

// SPDX-License-Identifier: Apache-2.0
// The Upload page: a form of several files and text fields that Cargane
// stores under the data directory's uploads/.
#pragma once

#include <string>
#include <vector>

#include "web/Page.h"

namespace corvane::web {

// GET: the form. POST: the upload's code, stored files, form items and,
// for a negative code, the error triple.
PageAnswer UploadPage(PageCall& call);

// Gives an upload object the console's rules: the allowed extensions of
// --upload-extensions (every one when unset) and files without one
// accepted. Cannot fail.
void ApplyUploadRules(Dispatch& upload, const ConsoleSettings& settings);

// The names of the regular files in the upload directory, sorted; empty
// when it cannot be read.
std::vector<std::string> StoredFileNames(const ConsoleSettings& settings);

}  // namespace corvane::web

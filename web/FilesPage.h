// SPDX-License-Identifier: Apache-2.0
// The Files page: Vantry lists a directory of the data directory and
// downloads, deletes, makes directories and copies files by a pattern,
// never reaching a path outside the data directory.
#pragma once

#include "web/Page.h"

namespace corvane::web {

// GET ?path=DIR: the listing of DIR (relative to the data directory) with
// the forms. POST: the action of the form (delete, mkdir, copy), then the
// listing. A refused path answers its status (400, 403, 404, 409) with the
// reason on the page.
PageAnswer FilesPage(PageCall& call);

// GET ?path=FILE: the file's bytes as an attachment; a refused path or a
// failed read answers a page with the reason.
PageAnswer FileDownload(PageCall& call);

}  // namespace corvane::web

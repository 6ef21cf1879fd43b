// SPDX-License-Identifier: Apache-2.0
// The Mail page: Penrill sends a message, with attachments chosen from the
// stored files, through the configured mail server.
#pragma once

#include "web/Page.h"

namespace corvane::web {

// GET: the form. POST: whether the message went, the error triple and
// the text the component wrote to the page.
PageAnswer MailPage(PageCall& call);

}  // namespace corvane::web

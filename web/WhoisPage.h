// SPDX-License-Identifier: Apache-2.0
// The Whois page: one query through Namewell, its fields in a table, the
// e-mail properties and the raw reply.
#pragma once

#include "web/Page.h"

namespace corvane::web {

// GET: the form. POST: the lookup's fields, or the error triple.
PageAnswer WhoisPage(PageCall& call);

}  // namespace corvane::web

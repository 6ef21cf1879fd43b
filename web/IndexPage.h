// SPDX-License-Identifier: Apache-2.0
// The console's front page: what each page does, with a link to it.
#pragma once

#include "web/Page.h"

namespace corvane::web {

// Never fails.
PageAnswer IndexPage(PageCall& call);

}  // namespace corvane::web

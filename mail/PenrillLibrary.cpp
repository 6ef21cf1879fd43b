// SPDX-License-Identifier: Apache-2.0
// The entry points of libpenrill.so and the classes it makes creatable.
#include "frame/Registry.h"
#include "mail/SMTP.h"
#include "mail/clsMIMEObj.h"
#include "mail/clsMail.h"

CORVANE_COMPONENT_LIBRARY(
    corvane::Creatable<corvane::penrill::SMTP>(
        "Corvane.SMTP", "{475A2558-A66A-11D2-8B64-00609710D7BB}"),
    corvane::Creatable<corvane::penrill::clsMIMEObj>(
        "Corvane.clsMIMEObj", "{475A255A-A66A-11D2-8B64-00609710D7BB}"),
    corvane::Creatable<corvane::penrill::clsMail>(
        "Corvane.clsMail", "{475A255C-A66A-11D2-8B64-00609710D7BB}"))

// SPDX-License-Identifier: Apache-2.0
// The entry points of libnamewell.so: its one class, Corvane.WhoisQuery.
#include "frame/Registry.h"
#include "whois/WhoisQuery.h"

CORVANE_COMPONENT_LIBRARY(corvane::Creatable<corvane::namewell::WhoisQuery>(
    "Corvane.WhoisQuery", "{F48833D1-A65A-11D2-8B64-00609710D7BB}"))

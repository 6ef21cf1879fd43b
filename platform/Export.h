// SPDX-License-Identifier: Apache-2.0
// CORVANE_API marks what the shared runtime exports: the classes and
// routines that components, programs and tests reach through its headers.
// The runtime is built with hidden visibility, so nothing else it holds
// (helpers of a source file, inline copies, template instances) is its API.
#pragma once

#define CORVANE_API __attribute__((visibility("default")))

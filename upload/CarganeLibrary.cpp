// SPDX-License-Identifier: Apache-2.0
// Cargane's in-process server entry points: the class `upload` under the
// ProgID Corvane.upload.
#include "frame/Registry.h"
#include "upload/upload.h"

CORVANE_COMPONENT_LIBRARY(corvane::Creatable<corvane::cargane::upload>(
    "Corvane.upload", "{46EB50D4-AAF2-11D2-8B64-00609710D7BB}"))

// SPDX-License-Identifier: Apache-2.0
// The entry points of libvantry.so: Corvane.Vantry and its two record
// classes, which scripts may create on their own.
#include "filemgmt/CFile.h"
#include "filemgmt/CSubDir.h"
#include "filemgmt/Vantry.h"
#include "frame/Registry.h"

CORVANE_COMPONENT_LIBRARY(
    corvane::Creatable<corvane::vantry::Vantry>(
        "Corvane.Vantry", "{A491DD76-A66B-11D2-8B64-00609710D7BB}"),
    corvane::Creatable<corvane::vantry::CFile>(
        "Corvane.CFile", "{A491DD74-A66B-11D2-8B64-00609710D7BB}"),
    corvane::Creatable<corvane::vantry::CSubDir>(
        "Corvane.CSubDir", "{A491DD78-A66B-11D2-8B64-00609710D7BB}"))

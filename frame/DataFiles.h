// SPDX-License-Identifier: Apache-2.0
// Where the suite's data files (tables a component reads at run time) are
// found, in the build tree and in an installed tree alike.
#pragma once

#include <string>
#include <string_view>

#include "platform/Export.h"

namespace corvane {

// The path of the data file `name`: under $CORVANE_DATA when that is set,
// else beside the shared runtime (the build's bin/) when the file is there,
// else in the installed data folder found relative to the runtime. The file
// need not exist: a caller that opens it reports its absence.
CORVANE_API std::string DataFilePath(std::string_view name);

}  // namespace corvane

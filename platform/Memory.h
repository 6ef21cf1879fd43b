// SPDX-License-Identifier: Apache-2.0
// How the process's allocator keeps memory that was freed: a server whose
// requests each take and give back a few hundred KiB keeps it for the next
// request instead of handing it back to the system and faulting it in again.
#pragma once

#include <cstddef>

#include "platform/Export.h"

namespace corvane::platform {

// Blocks below `mapped_from` bytes come from the allocator's pools (larger
// ones are mapped and unmapped on their own), and a pool keeps up to
// `kept_free` bytes free at its end. False where the allocator does not
// take these settings.
CORVANE_API bool KeepFreedMemory(size_t mapped_from, size_t kept_free);

}  // namespace corvane::platform

// SPDX-License-Identifier: Apache-2.0
#include "platform/Memory.h"

#include <climits>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace corvane::platform {

bool KeepFreedMemory(size_t mapped_from, size_t kept_free) {
#ifdef __GLIBC__
  if (mapped_from > INT_MAX || kept_free > INT_MAX) return false;
  // Fixed values also stop the allocator from moving them by itself.
  return mallopt(M_MMAP_THRESHOLD, static_cast<int>(mapped_from)) == 1 &&
         mallopt(M_TRIM_THRESHOLD, static_cast<int>(kept_free)) == 1;
#else
  (void)mapped_from;
  (void)kept_free;
  return false;
#endif
}

}  // namespace corvane::platform

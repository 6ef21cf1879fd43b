// SPDX-License-Identifier: Apache-2.0
// Makes an allocation of the calling thread fail (std::bad_alloc), so that a
// test can make a call throw part-way and check what it leaves behind. The
// test binary that uses it links FailAllocation.cpp, which replaces the
// global operator new and delete.
#pragma once

#include <cstddef>

namespace corvane::testing {

// While it lives, the calling thread's allocations after the first `allowed`
// fail once: the one that fails ends the arrangement.
class FailAllocationAfter {
 public:
  explicit FailAllocationAfter(long allowed);
  ~FailAllocationAfter();
  FailAllocationAfter(const FailAllocationAfter&) = delete;
  FailAllocationAfter& operator=(const FailAllocationAfter&) = delete;
  // Whether the failing allocation came.
  bool Failed() const;
};

// The descriptors the process has open (the entries of /proc/self/fd).
size_t OpenDescriptors();

struct AllocationSweep {
  long runs = 0;        // the calls made, the last one complete
  long leaked_at = -1;  // the allocations allowed in the first call that
                        // left a descriptor open; -1 when none did
};

// Calls `call` with its first allocation failing, then its second, and so
// on until a call completes without a failure, and counts the descriptors
// open before and after each.
template <class Call>
AllocationSweep SweepAllocations(Call call) {
  AllocationSweep sweep;
  for (long allowed = 0;; ++allowed) {
    size_t before = OpenDescriptors();
    bool failed = false;
    {
      FailAllocationAfter fail(allowed);
      try {
        call();
      } catch (...) {
      }
      failed = fail.Failed();
    }
    ++sweep.runs;
    if (OpenDescriptors() != before && sweep.leaked_at < 0) {
      sweep.leaked_at = allowed;
    }
    if (!failed) return sweep;
  }
}

}  // namespace corvane::testing

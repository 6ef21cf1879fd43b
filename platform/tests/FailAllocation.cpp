// SPDX-License-Identifier: Apache-2.0
#include "platform/tests/FailAllocation.h"

#include <cstdlib>
#include <filesystem>
#include <new>

namespace {

// Allocations left before the failing one; negative when none is to fail.
thread_local long allocations_left = -1;
thread_local bool failed = false;

void* Allocate(std::size_t size) {
  if (allocations_left == 0) {
    allocations_left = -1;
    failed = true;
    throw std::bad_alloc();
  }
  if (allocations_left > 0) --allocations_left;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

}  // namespace

// Every form that allocates goes through Allocate and every form that frees
// through free, so that a checker of matched pairs sees malloc and free.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}

namespace corvane::testing {

FailAllocationAfter::FailAllocationAfter(long allowed) {
  failed = false;
  allocations_left = allowed;
}

FailAllocationAfter::~FailAllocationAfter() { allocations_left = -1; }

bool FailAllocationAfter::Failed() const { return failed; }

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

}  // namespace corvane::testing

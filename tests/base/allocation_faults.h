#pragma once

namespace nubrik::testing {

// While one lives, allocations through operator new on the calling thread
// change errno, as a real allocator may, and the one numbered `failAt`
// (from 0) throws std::bad_alloc. This test program replaces operator new
// for the purpose.
class AllocationFault {
 public:
  explicit AllocationFault(int failAt);
  ~AllocationFault();
  AllocationFault(const AllocationFault&) = delete;
  AllocationFault& operator=(const AllocationFault&) = delete;
};

}  // namespace nubrik::testing

#ifndef FAILING_ALLOCATION_H
#define FAILING_ALLOCATION_H

#include <atomic>
#include <cstddef>

// Both need failing_allocation.cpp among the test's sources, which replaces
// operator new and delete in all their plain, array and nothrow forms. Atomic:
// a transmission's thread may change them while the window's allocates.

// Set by a test: the next nothrow allocation (new (std::nothrow) T or T[n]) of
// exactly this many bytes fails, and this goes back to 0.
inline std::atomic<std::size_t> failingAllocationSize{0};

// Set by a test: every allocation of at least this many bytes fails (new
// throws std::bad_alloc), as when memory runs out, until this is 0 again.
inline std::atomic<std::size_t> failingFromSize{0};

// Set by a test: the next allocation of exactly this many bytes first calls
// onAllocation (on the thread that allocates), and fails when it returns
// true; this goes back to 0.
inline std::atomic<std::size_t> hookedAllocationSize{0};
inline bool (*onAllocation)() = nullptr;

#endif

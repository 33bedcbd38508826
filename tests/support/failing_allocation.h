#ifndef FAILING_ALLOCATION_H
#define FAILING_ALLOCATION_H

#include <cstddef>

// Set by a test: the next nothrow allocation (new (std::nothrow) T or T[n]) of
// exactly this many bytes fails, as it would on a machine out of memory, and
// this goes back to 0. Needs failing_allocation.cpp among the test's sources,
// which replaces the nothrow operators.
inline std::size_t failingAllocationSize = 0;

#endif

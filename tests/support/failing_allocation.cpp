#include "failing_allocation.h"

#include <new>
#include <utility>

// Each form forwards to its own throwing counterpart, so that what it returns
// is released by the matching delete. A real shortage ends the test.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    const bool fail = size == failingAllocationSize && std::exchange(failingAllocationSize, 0);
    return fail ? nullptr : ::operator new(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    const bool fail = size == failingAllocationSize && std::exchange(failingAllocationSize, 0);
    return fail ? nullptr : ::operator new[](size);
}

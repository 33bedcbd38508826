#include "failing_allocation.h"

#include <cstdlib>
#include <new>

// The whole family goes through malloc and free, so that every block is
// released by the allocator that made it, also under AddressSanitizer, which
// would otherwise keep its own operators for the forms not replaced here.
namespace
{
void* allocate(std::size_t size) noexcept
{
    std::size_t hooked = size;
    if (size != 0 && hookedAllocationSize.compare_exchange_strong(hooked, 0) && onAllocation())
        return nullptr;
    const std::size_t from = failingFromSize;
    return from && size >= from ? nullptr : std::malloc(size ? size : 1);
}
void* allocateOrThrow(std::size_t size)
{
    if (void* block = allocate(size))
        return block;
    throw std::bad_alloc();
}
void* allocateOrFail(std::size_t size) noexcept
{
    std::size_t failing = size;
    const bool fail = size != 0 && failingAllocationSize.compare_exchange_strong(failing, 0);
    return fail ? nullptr : allocate(size);
}
} // namespace

// clang-format off
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateOrFail(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateOrFail(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
// clang-format on

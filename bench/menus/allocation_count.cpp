// SPDX-License-Identifier: Apache-2.0
// Counts heap allocations made through the global operator new of this
// benchmark binary. Kept in a file of its own so that the compiler sees the
// replaced operators only as calls.
#include <cstdlib>
#include <new>

size_t allocations_made = 0;  // the benchmarks run on one thread

void* operator new(std::size_t size)
{
    void* block = std::malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    ++allocations_made;
    return block;
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

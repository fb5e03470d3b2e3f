#include "Heap.h"

#include <cstdlib>

namespace {

void* AllocZeroed(size_t nBytes)
{
    return std::calloc(1, nBytes);
}

HeapAllocator g_allocate = AllocZeroed;

} // namespace

void* HeapAllocZeroed(size_t nBytes)
{
    return g_allocate(nBytes);
}

void HeapFreeBlock(void* pBlock)
{
    std::free(pBlock);
}

void SetHeapAllocator(HeapAllocator allocate)
{
    g_allocate = allocate ? allocate : AllocZeroed;
}

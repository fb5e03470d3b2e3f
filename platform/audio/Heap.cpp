#include "Heap.h"

#include <cstdlib>

namespace {

int g_nAllocationsBeforeFailure = -1;

} // namespace

void* HeapAllocZeroed(size_t nBytes)
{
    if (g_nAllocationsBeforeFailure == 0)
        return nullptr;
    if (g_nAllocationsBeforeFailure > 0)
        --g_nAllocationsBeforeFailure;
    return std::calloc(1, nBytes);
}

void HeapFreeBlock(void* pBlock)
{
    std::free(pBlock);
}

void FailHeapAllocationsAfter(int nSuccesses)
{
    g_nAllocationsBeforeFailure = nSuccesses < 0 ? -1 : nSuccesses;
}

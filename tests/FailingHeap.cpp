#include "FailingHeap.h"

#include "platform/audio/Heap.h"

#include <cstdlib>

namespace {

int g_nAllocationsBeforeFailure = -1;

void* CountedAlloc(size_t nBytes)
{
    if (g_nAllocationsBeforeFailure == 0)
        return nullptr;
    --g_nAllocationsBeforeFailure;
    return std::calloc(1, nBytes);
}

} // namespace

void FailHeapAllocationsAfter(int nSuccesses)
{
    g_nAllocationsBeforeFailure = nSuccesses;
    SetHeapAllocator(nSuccesses < 0 ? nullptr : CountedAlloc);
}

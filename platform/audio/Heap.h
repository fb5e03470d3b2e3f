// Zero-filled blocks from the process heap, for the few objects that the
// program allocates once at start-up. Tests can make allocations fail to see
// how their owners cope. User-interface thread only.
#pragma once

#include <cstddef>

void* HeapAllocZeroed(size_t nBytes);
void HeapFreeBlock(void* pBlock);

// Lets nSuccesses more allocations succeed and fails every one after them;
// a negative count lets all succeed again.
void FailHeapAllocationsAfter(int nSuccesses);

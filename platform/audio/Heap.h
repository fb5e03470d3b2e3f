// Zero-filled blocks from the process heap, for the few objects that the
// program allocates once at start-up. User-interface thread only.
#pragma once

#include <cstddef>

void* HeapAllocZeroed(size_t nBytes);
void HeapFreeBlock(void* pBlock);

// Where HeapAllocZeroed takes its blocks from: calloc, or one that fails on
// purpose, for a test of how their owners cope. Null restores calloc.
using HeapAllocator = void* (*)(size_t nBytes);
void SetHeapAllocator(HeapAllocator allocate);

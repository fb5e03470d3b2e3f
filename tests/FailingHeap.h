// Heap blocks that run out on purpose, to see how their owners cope.
#pragma once

// Lets nSuccesses more allocations succeed and fails every one after them;
// a negative count lets all succeed again.
void FailHeapAllocationsAfter(int nSuccesses);

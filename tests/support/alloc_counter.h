#pragma once
// Counts every heap allocation of the process, libraries' included. A
// program gets the counter by linking the object library qv_alloc_counter:
// with AddressSanitizer it counts through the sanitizer's malloc hooks,
// otherwise through the program's own malloc, calloc and realloc, which pass
// on to the C library's.
#include <cstdint>

// Allocations since the program started.
uint64_t AllocationCount();

// The next n allocations print their stacks to stderr (sanitizer build
// only); 0 stops it.
void TraceNextAllocations(int n);

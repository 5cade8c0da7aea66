// Heap use of the whole benchmark program: the program's routines, the Win32 stand-in and the
// simulated board together, counted through this binary's own global operator new and delete.
// What C code takes with malloc directly (stdio's buffers) is not counted; the program's
// buffers and its file streams are C++ allocations.
#pragma once

#include <cstddef>

// Bytes held now (as the allocator granted them, so slightly more than asked for).
size_t HeapLiveBytes();
// The most bytes held at once since the last ResetHeapPeak.
size_t HeapPeakBytes();
// Starts a new peak from what is held now.
void ResetHeapPeak();

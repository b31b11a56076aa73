// Counting every heap allocation the test program makes, where the C runtime
// lets a program see them.
#pragma once

namespace HeapCounter {

// Whether allocations are counted in this build.
bool available();
// Why not, when it is not.
const char* unavailableReason();

// Allocations counted so far (malloc, calloc, realloc, aligned allocation, and
// operator new through them).
long allocations();

} // namespace HeapCounter

// The Windows test program's C runtime offers no allocation hook. The DLL
// cannot allocate anyway: its import table, checked on its own, names no
// allocator.
#include "tests/heap_counter.h"

namespace HeapCounter {

bool available()
{
    return false;
}

const char* unavailableReason()
{
    return "no allocation hook in this C runtime; the DLL's imports show it has no allocator";
}

long allocations()
{
    return 0;
}

} // namespace HeapCounter

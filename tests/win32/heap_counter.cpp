// The Windows test program's C runtime offers no allocation hook. The DLL
// cannot allocate anyway: its import table, checked on its own, names no
// allocator.
#include "tests/heap_counter.h"

namespace HeapCounter {

bool available()
{
    return false;
}

long allocations()
{
    return 0;
}

} // namespace HeapCounter

// In the emulator the DLL has no way to the heap: its only way out of its
// image is the nine bound imports, and the loader holds its writes to its own
// data and the stack. The emulator's own allocations are not the DLL's, so
// the host's count would say nothing about it.
#include "tests/heap_counter.h"

namespace HeapCounter {

bool available()
{
    return false;
}

const char* unavailableReason()
{
    return "the emulated DLL reaches no allocator: the loader lets it call only its nine imports and write only "
           "its own data and the stack";
}

long allocations()
{
    return 0;
}

} // namespace HeapCounter

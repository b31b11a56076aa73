// Allocation counting on the host. Under the sanitizers the runtime's own
// hooks see every allocation; otherwise the program's malloc family replaces
// glibc's and hands over to it, and operator new comes through malloc.
#include "tests/heap_counter.h"

#include <cstddef>

namespace {

volatile long counted;

void count()
{
    counted = counted + 1;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)

// The sanitizer runtime's allocation hooks (gcc ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
namespace {
void onAllocate(const volatile void*, size_t)
{
    count();
}
void onFree(const volatile void*) {}
const int installed = __sanitizer_install_malloc_and_free_hooks(onAllocate, onFree);
} // namespace

namespace HeapCounter {
bool available()
{
    return installed != 0;
}
} // namespace HeapCounter

#else

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size)
{
    count();
    return __libc_malloc(size);
}
void* calloc(size_t number, size_t size)
{
    count();
    return __libc_calloc(number, size);
}
void* realloc(void* block, size_t size)
{
    count();
    return __libc_realloc(block, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    count();
    return __libc_memalign(alignment, size);
}
}

namespace HeapCounter {
bool available()
{
    return true;
}
} // namespace HeapCounter

#endif

namespace HeapCounter {

const char* unavailableReason()
{
    return "the sanitizer runtime refused the allocation hooks";
}

long allocations()
{
    return counted;
}

} // namespace HeapCounter

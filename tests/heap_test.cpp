// No export touches the heap, on any path: every allocation in the process is
// counted around each call.
#include "tests/support.h"

#include <cstddef>

namespace {

volatile long allocations;

} // namespace

#if defined(_WIN32)
// The DLL imports no allocator at all (its import table is checked on its
// own), and the test program's C runtime offers no allocation hook.
#define ZQ4810_HEAP_COUNTING 0
#elif defined(__SANITIZE_ADDRESS__)
#define ZQ4810_HEAP_COUNTING 1
// The sanitizer runtime's allocation hooks (gcc ships no header for them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
namespace {
void onAllocate(const volatile void*, size_t)
{
    allocations = allocations + 1;
}
void onFree(const volatile void*) {}
[[maybe_unused]] const int installed = __sanitizer_install_malloc_and_free_hooks(onAllocate, onFree);
} // namespace
#else
// glibc: the program's own malloc family replaces the C library's and hands
// over to it; operator new comes through malloc.
#define ZQ4810_HEAP_COUNTING 1
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size)
{
    allocations = allocations + 1;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    allocations = allocations + 1;
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size)
{
    allocations = allocations + 1;
    return __libc_realloc(block, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    allocations = allocations + 1;
    return __libc_memalign(alignment, size);
}
}
#endif

namespace {

using HeapTest = LibraryTest;

// The whole life of a board, refused arguments included.
void everyExport()
{
    AZQ4810CHECKIFDRIVER();
    AZQ4810SETBASEADDRESS(0x300);
    AZQ4810CHECKIFDRIVER();
    AZQ4810INITIALIZE();
    AZQ4810READPOSITION(0);
    AZQ4810RESETCOUNTER(1);
    AZQ4810SETMULTIPLIER(2);
    AZQ4810CHANGEMODE(4, 3);
    AZQ4810PRWRITE(3, 0x123456);
    AZQ4810READPOSITION(INT_MIN);
    AZQ4810SETMULTIPLIER(3);
    AZQ4810CLOSE();
    AZQ4810CLOSE();
    AZQ4810DELETEALL();
    AZQ4810DELETE();
}

long allocationsDuring(void (*body)())
{
    const long before = allocations;
    body();
    return allocations - before;
}

TEST_F(HeapTest, TheCounterSeesAnAllocation)
{
#if !ZQ4810_HEAP_COUNTING
    GTEST_SKIP() << "no allocation hook in this C runtime; the DLL's imports show it has no allocator";
#endif
    EXPECT_GE(allocationsDuring([] { delete new volatile int(1); }), 1);
}

TEST_F(HeapTest, NoExportAllocatesOnAnyPath)
{
#if !ZQ4810_HEAP_COUNTING
    GTEST_SKIP() << "no allocation hook in this C runtime; the DLL's imports show it has no allocator";
#endif
    Sim::echoNotices(true); // the echo is part of every failure path
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with every call succeeding";

    Sim::reset();
    Sim::failCallsFrom(Sim::Call::Any, 1);
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with every platform call failing";

    Sim::reset();
    const int no = 7;
    Sim::scriptAnswers(&no, 1);
    Sim::zeroByteReads(true);
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with a declined setup and zero-byte reads";
    Sim::echoNotices(false);
}

} // namespace

// No export touches the heap, on any path: every allocation in the process is
// counted around each call.
#include "tests/heap_counter.h"
#include "tests/support.h"

#include <cstddef>

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
    const long before = HeapCounter::allocations();
    body();
    return HeapCounter::allocations() - before;
}

TEST_F(HeapTest, TheCounterSeesAnAllocation)
{
    if (!HeapCounter::available()) {
        GTEST_SKIP() << HeapCounter::unavailableReason();
    }
    EXPECT_GE(allocationsDuring([] { delete new volatile int(1); }), 1);
}

TEST_F(HeapTest, NoExportAllocatesOnAnyPath)
{
    if (!HeapCounter::available()) {
        GTEST_SKIP() << HeapCounter::unavailableReason();
    }
    Sim::echoNotices(true); // the echo is part of every failure path
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with every call succeeding";

    Sim::reset();
    Sim::failCallsFrom(Sim::Call::Any, 1);
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with every platform call failing";

    Sim::reset();
    const int no = 7;
    Sim::scriptAnswers(&no, 1);
    Sim::readReplyLength(0);
    EXPECT_EQ(allocationsDuring(everyExport), 0) << "with a declined setup and zero-byte reads";
    Sim::echoNotices(false);
}

} // namespace

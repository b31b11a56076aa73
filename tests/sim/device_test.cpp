// The simulated driver itself, called the way the library would call
// Windows: it must fail where Windows and the real driver fail, or the
// library's tests would prove less than they claim.
#include "platform/sim/internal.h"
#include "tests/support.h"

namespace {

using SimDeviceTest = LibraryTest;

HANDLE open(const char* name, DWORD access)
{
    return SimCreateFileA(name, access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

BOOL write(HANDLE handle, DWORD offset, BYTE value, DWORD length = 5)
{
    BYTE input[5] = {static_cast<BYTE>(offset), static_cast<BYTE>(offset >> 8), static_cast<BYTE>(offset >> 16),
                     static_cast<BYTE>(offset >> 24), value};
    DWORD returned = 99;
    return SimDeviceIoControl(handle, 1, input, length, nullptr, 0, &returned, nullptr);
}

int read(HANDLE handle, DWORD offset)
{
    BYTE input[4] = {static_cast<BYTE>(offset), static_cast<BYTE>(offset >> 8), 0, 0};
    BYTE output = 0;
    DWORD returned = 0;
    if (!SimDeviceIoControl(handle, 0, input, 4, &output, 1, &returned, nullptr) || returned != 1) {
        return -1;
    }
    return output;
}

TEST_F(SimDeviceTest, OnlyTheBoardsDeviceOpensAndBothDirectionsMayBeOpenAtOnce)
{
    EXPECT_EQ(open("\\\\.\\OtherDev", GENERIC_READ), INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(nullptr, GENERIC_READ), INVALID_HANDLE_VALUE);
    HANDLE reader = open("\\\\.\\zq4810dev", GENERIC_READ);
    HANDLE writer = open("\\\\.\\ZQ4810Dev", GENERIC_WRITE);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_NE(reader, writer);
    EXPECT_EQ(Sim::openDeviceHandles(), 2);
    EXPECT_TRUE(SimCloseHandle(reader));
    EXPECT_FALSE(SimCloseHandle(reader)); // not open any more
    EXPECT_FALSE(SimCloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(SimCloseHandle(nullptr));
    EXPECT_TRUE(SimCloseHandle(writer));
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
}

TEST_F(SimDeviceTest, MalformedRequestsFailAndAreMarkedInTheTrace)
{
    HANDLE both = open("\\\\.\\ZQ4810Dev", GENERIC_READ | GENERIC_WRITE);
    BYTE input[8] = {};
    BYTE output[2] = {};
    DWORD returned = 0;
    EXPECT_FALSE(write(both, 0, 1, 4));                                                    // short input
    EXPECT_FALSE(SimDeviceIoControl(both, 0, input, 5, output, 1, &returned, nullptr));   // long input
    EXPECT_FALSE(SimDeviceIoControl(both, 0, input, 4, nullptr, 0, &returned, nullptr));  // no output
    EXPECT_FALSE(SimDeviceIoControl(both, 0, input, 4, output, 1, nullptr, nullptr));     // no count
    EXPECT_FALSE(SimDeviceIoControl(both, 2, input, 4, output, 1, &returned, nullptr));   // unknown code
    EXPECT_FALSE(write(reinterpret_cast<HANDLE>(0x1234), 0, 1));                           // unknown handle
    EXPECT_STREQ(Sim::trace(), "w0=00! r0! r0! r0! ?2!");
    EXPECT_TRUE(SimCloseHandle(both));
}

TEST_F(SimDeviceTest, RequestsOnAHandleOfTheOtherDirectionAreMarked)
{
    HANDLE reader = open("\\\\.\\ZQ4810Dev", GENERIC_READ);
    EXPECT_TRUE(write(reader, 8, 0x5A));
    EXPECT_EQ(read(reader, 8), 0x5A);
    EXPECT_STREQ(Sim::trace(), "~w8=5A r8");
    EXPECT_TRUE(SimCloseHandle(reader));
}

TEST_F(SimDeviceTest, TheBytePointerIsSharedByPresetAndLatchAndWrapsAfterThreeBytes)
{
    HANDLE both = open("\\\\.\\ZQ4810Dev", GENERIC_READ | GENERIC_WRITE);
    // Preset bytes go in at the pointer: after two data bytes the next read
    // gives the latch's high byte, then the pointer wraps to the low byte.
    Sim::setCounter(1, 0xC0FFEE);
    EXPECT_TRUE(write(both, 3, 0x11)); // reset pointer and latch the counter
    EXPECT_TRUE(write(both, 2, 0xAA));
    EXPECT_TRUE(write(both, 2, 0xBB));
    EXPECT_EQ(read(both, 2), 0xC0);
    EXPECT_EQ(read(both, 2), 0xEE);
    EXPECT_EQ(Sim::preset(1), 0x00BBAAu);
    // Control ports read 0; undecoded ports float high; the mode ports keep
    // what was written.
    EXPECT_EQ(read(both, 3), 0);
    EXPECT_EQ(read(both, 12), 0xFF);
    EXPECT_TRUE(write(both, 9, 0x42));
    EXPECT_EQ(read(both, 9), 0x42);
    EXPECT_FALSE(write(both, 16, 0x42));
    EXPECT_TRUE(SimCloseHandle(both));
}

TEST_F(SimDeviceTest, InjectedFaultsCountPerKindAndInOneSequence)
{
    HANDLE both = open("\\\\.\\ZQ4810Dev", GENERIC_READ | GENERIC_WRITE);
    Sim::resetCounts();
    Sim::failCall(Sim::Call::Any, 3);
    Sim::failCallsFrom(Sim::Call::DeviceRequest, 5);
    const bool results[] = {write(both, 8, 1) != 0, write(both, 8, 2) != 0, write(both, 8, 3) != 0,
                            write(both, 8, 4) != 0, write(both, 8, 5) != 0, write(both, 8, 6) != 0};
    const bool expected[] = {true, true, false, true, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(results[i], expected[i]) << "call " << i + 1;
    }
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceRequest), 6);
    EXPECT_EQ(Sim::callCount(Sim::Call::Any), 6);
    Sim::clearFaults();
    EXPECT_TRUE(write(both, 8, 7));
    // An injected close failure still releases the handle.
    Sim::failCall(Sim::Call::DeviceClose, 1);
    EXPECT_FALSE(SimCloseHandle(both));
    EXPECT_EQ(Sim::openDeviceHandles(), 0);
}

} // namespace

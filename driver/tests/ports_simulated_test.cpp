// The simulated driver's board side on the host: the hardware model behind the
// driver's port requests, and the encoder motion that follows the driver's
// clock. The clock and the Parameters value are the test's.
#include "driver/ports.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

unsigned long long clockNow;
unsigned long long clockFrequency = 10000000;
bool rateRegistered;
unsigned long registeredRate;

// A position read as the library sends it: latch, byte pointer, three reads.
int position(unsigned axis)
{
    PortsWrite(2 * axis + 1, 0x10);
    PortsWrite(2 * axis + 1, 0x01);
    unsigned value = 0;
    for (unsigned byte = 0; byte < 3; ++byte) {
        value |= static_cast<unsigned>(PortsRead(2 * axis)) << (8 * byte);
    }
    return value >= 0x800000 ? static_cast<int>(value) - 0x1000000 : static_cast<int>(value);
}

void start(bool withRate, unsigned long rate, unsigned long long frequency = 10000000,
           unsigned long long at = 123456789)
{
    rateRegistered = withRate;
    registeredRate = rate;
    clockFrequency = frequency;
    clockNow = at;
    ASSERT_NE(PortsStart(nullptr, 0x300, 16), 0);
}

void advanceSeconds(unsigned long long seconds)
{
    clockNow += seconds * clockFrequency;
}

} // namespace

extern "C" int DriverQueryDword(void* key, const wchar_t* name, unsigned long* value)
{
    static_cast<void>(key);
    if (!rateRegistered || std::wcscmp(name, L"SimulatedCyclesPerSecond") != 0) {
        return 0;
    }
    *value = registeredRate;
    return 1;
}

extern "C" unsigned long long DriverClock(unsigned long long* ticksPerSecond)
{
    *ticksPerSecond = clockFrequency;
    return clockNow;
}

TEST(SimulatedDriverPorts, ServesTheBoardModel)
{
    start(false, 0);
    // Preset 0x123456 on axis 1, loaded into the counter, read back.
    PortsWrite(3, 0x01);
    PortsWrite(2, 0x56);
    PortsWrite(2, 0x34);
    PortsWrite(2, 0x12);
    PortsWrite(3, 0x08);
    EXPECT_EQ(position(1), 0x123456);
    PortsWrite(9, 0x47);
    EXPECT_EQ(PortsRead(9), 0x47);
    EXPECT_EQ(PortsRead(15), 0xFF);
}

TEST(SimulatedDriverPorts, StandsStillWithoutARegisteredRate)
{
    // The value absent, then registered as 0.
    for (bool registered : {false, true}) {
        start(registered, registered ? 0 : 100);
        advanceSeconds(100);
        for (unsigned axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(position(axis), 0) << "registered " << registered << ", axis " << axis;
        }
    }
}

TEST(SimulatedDriverPorts, AxisNTurnsAtNPlusOneTimesTheRateOddAxesBackwards)
{
    // The clock as the driver finds it: early after boot; past 32 bits, as a
    // 10 MHz performance counter is after seven minutes; and crossing 2^32
    // while the axes turn.
    for (unsigned long long at : {123456789ull, 0x512345678ull, (1ull << 32) - 10000000}) {
        SCOPED_TRACE(testing::Message() << "clock from 0x" << std::hex << at);
        start(true, 100, 10000000, at);
        PortsWrite(1, 0xB8); // axis 0 counts 4 per cycle
        PortsRead(0);
        advanceSeconds(3);
        EXPECT_EQ(position(0), 4 * 300);
        EXPECT_EQ(position(1), -600);
        EXPECT_EQ(position(2), 900);
        EXPECT_EQ(position(3), -1200);
        // Reads at the same instant see no more motion.
        EXPECT_EQ(position(0), 4 * 300);
    }
}

TEST(SimulatedDriverPorts, PausesFromAWriteUntilTheNextRead)
{
    start(true, 100);
    // A counter reset, then two seconds without a read: the board start's
    // load-then-latch needs the counter held still in between.
    PortsWrite(1, 0x02);
    advanceSeconds(2);
    EXPECT_EQ(position(0), 0);
    // A read that ends the pause, as the loop-back reads after the board
    // start's writes do, drops the held seconds too, rather than handing
    // them on to the counter.
    PortsWrite(1, 0x02);
    advanceSeconds(2);
    PortsRead(0);
    EXPECT_EQ(position(0), 0);
    advanceSeconds(1);
    EXPECT_EQ(position(0), 100);
}

TEST(SimulatedDriverPorts, FollowsAnyClockRateOverYearsAndWrapsAt24Bits)
{
    // A 3 GHz clock, a rate above the cap, a year without requests: the
    // elapsed ticks times the rate would leave 64 bits.
    start(true, 5000000, 3000000000ull);
    PortsRead(0);
    const unsigned long long seconds = 365ull * 24 * 3600;
    advanceSeconds(seconds);
    const unsigned long long cycles = seconds * 100000; // the cap
    const auto expected = [&](unsigned long long counts) {
        const int value = static_cast<int>(counts & 0xFFFFFF);
        return value >= 0x800000 ? value - 0x1000000 : value;
    };
    EXPECT_EQ(position(0), expected(cycles));
    EXPECT_EQ(position(1), expected(0x1000000 - (2 * cycles & 0xFFFFFF)));
    // An odd clock rate: three seconds of the ACPI timer.
    start(true, 100, 3579545);
    PortsRead(0);
    advanceSeconds(3);
    EXPECT_EQ(position(2), 900);
}

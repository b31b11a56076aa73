// The counter exports as port conversations: every byte the board is sent,
// in order, as one line of the simulator's trace.
#include "tests/support.h"

using namespace TestSupport;

namespace {

using BoardTest = LibraryTest;

// What board start sends one axis, the self-test reads included.
std::string axisStart(int axis, const std::string& reads)
{
    const std::string d = "w" + std::to_string(2 * axis);
    const std::string c = "w" + std::to_string(2 * axis + 1);
    return d + "=0E " + c + "=98 " + c + "=C1 " + c + "=B8 " + c + "=02 " + c + "=01 " + d + "=12 " + d +
           "=57 " + d + "=DA " + c + "=08 " + c + "=10 " + c + "=01" + reads;
}

std::string allReads(int axis)
{
    const std::string r = " r" + std::to_string(2 * axis);
    return r + r + r;
}

TEST_F(BoardTest, StartWithEveryAxisEchoingSendsTheWholeSequenceAndPasses)
{
    EXPECT_EQ(AZQ4810INITIALIZE(), 0);
    EXPECT_EQ(std::string(Sim::trace()), "w8=00 w9=00 " + axisStart(0, allReads(0)) + " " +
                                             axisStart(1, allReads(1)) + " " + axisStart(2, allReads(2)) +
                                             " " + axisStart(3, allReads(3)));
    EXPECT_TRUE(notices().empty());
    // The board is left with multiplier 4 and the pattern in every counter.
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(Sim::multiplier(axis), 4);
        EXPECT_EQ(Sim::counter(axis), 0xDA5712u);
    }
    EXPECT_EQ(Sim::modePort(8), 0);
    EXPECT_EQ(Sim::modePort(9), 0);
}

// A board start that goes wrong: each axis that does not echo the pattern
// gets its bit, and its self-test stops reading at the first wrong byte.
struct FailedStart {
    const char* name;
    void (*inject)();
    int mask;
    int requests;      // 2 mode writes, per axis 12 writes and its reads
    std::string trace; // a part of the trace
    std::vector<std::string> shown;
};

using BoardStartTest = LibraryTable;

const FailedStart failedStarts[] = {
    {"Axis2ThirdByte", [] { Sim::corruptEcho(2, 2, 0x00); }, 4, 62, axisStart(2, allReads(2)) + " " + axisStart(3, ""),
     {}},
    {"Axis0FirstByte", [] { Sim::corruptEcho(0, 0, 0x13); }, 1, 60, axisStart(0, " r0") + " " + axisStart(1, ""), {}},
    {"Axes1And3SecondByte",
     [] {
         Sim::corruptEcho(1, 1, 0x00);
         Sim::corruptEcho(3, 1, 0xFF);
     },
     10, 60, axisStart(1, " r2 r2") + " " + axisStart(2, allReads(2)) + " " + axisStart(3, " r6 r6"), {}},
    {"EveryRequestFails", [] { Sim::failCallsFrom(Sim::Call::DeviceRequest, 1); }, 15, 54, "w8=00! w9=00!",
     repeated(RequestFailed, 54)},
    {"ZeroByteReads", [] { Sim::readReplyLength(0); }, 15, 54, axisStart(3, " r6"), repeated(WrongLength, 4)},
};

INSTANTIATE_TEST_SUITE_P(Rows, BoardStartTest, rows(failedStarts), rowNames(failedStarts));

TEST_P(BoardStartTest, MarksTheAxesThatFailAndStopsReadingAtTheFirstDifference)
{
    const FailedStart& c = failedStarts[GetParam()];
    c.inject();
    EXPECT_EQ(AZQ4810INITIALIZE(), c.mask);
    EXPECT_EQ(Sim::callCount(Sim::Call::DeviceRequest), c.requests);
    EXPECT_NE(std::string(Sim::trace()).find(c.trace), std::string::npos) << Sim::trace();
    EXPECT_EQ(notices(), c.shown);
}

TEST_F(BoardTest, PositionIsTheLatchedCountSignExtendedFromBit23)
{
    initializeQuietly();
    struct Case {
        uint32_t counter;
        int position;
    };
    const Case cases[] = {
        {0x7FFFFF, 8388607}, {0x800000, -8388608}, {0xFFFFFF, -1}, {0x000000, 0},
        {0x000001, 1},       {0x123456, 0x123456},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counter);
        clearRecords();
        Sim::setCounter(1, c.counter);
        EXPECT_EQ(AZQ4810READPOSITION(1), c.position);
        EXPECT_STREQ(Sim::trace(), "w3=10 w3=01 r2 r2 r2");
    }
    EXPECT_TRUE(notices().empty());
}

TEST_F(BoardTest, PositionFollowsEncoderMotionAtTheMultiplier)
{
    initializeQuietly();
    EXPECT_EQ(AZQ4810RESETCOUNTER(2), 0);
    Sim::moveAxis(2, 10);
    EXPECT_EQ(AZQ4810READPOSITION(2), 40); // multiplier 4 after start
    EXPECT_EQ(AZQ4810SETMULTIPLIER(1), 0);
    Sim::moveAxis(2, -50);
    EXPECT_EQ(AZQ4810READPOSITION(2), -10);
    EXPECT_EQ(AZQ4810PRWRITE(2, 1000), 0);
    EXPECT_EQ(AZQ4810READPOSITION(2), -10); // a preset reaches the counter only through 0x08
    EXPECT_EQ(Sim::preset(2), 1000u);
    EXPECT_EQ(AZQ4810RESETCOUNTER(2), 0);
    EXPECT_EQ(AZQ4810READPOSITION(2), 0);
    EXPECT_EQ(AZQ4810READPOSITION(3), static_cast<int>(0xFFDA5712u)); // still the self-test pattern
    EXPECT_TRUE(notices().empty());
}

TEST_F(BoardTest, PresetSendsTheLowThreeBytesAfterResettingTheBytePointer)
{
    initializeQuietly();
    EXPECT_EQ(AZQ4810PRWRITE(1, 0x12345678), 0);
    EXPECT_STREQ(Sim::trace(), "w3=01 w2=78 w2=56 w2=34");
    EXPECT_EQ(Sim::preset(1), 0x345678u);

    clearRecords();
    EXPECT_EQ(AZQ4810PRWRITE(3, -1), 0);
    EXPECT_STREQ(Sim::trace(), "w7=01 w6=FF w6=FF w6=FF");

    // Each failed write adds 255.
    clearRecords();
    Sim::failCall(Sim::Call::DeviceRequest, 1);
    Sim::failCall(Sim::Call::DeviceRequest, 3); // replaces the rule above: only the third fails
    EXPECT_EQ(AZQ4810PRWRITE(0, 5), 255);
    EXPECT_STREQ(Sim::trace(), "w1=01 w0=05 w0=00! w0=00");
}

TEST_F(BoardTest, MultiplierGoesToEveryControlPortInAxisOrder)
{
    initializeQuietly();
    const struct {
        int multiplier;
        const char* trace;
    } cases[] = {
        {2, "w1=B0 w3=B0 w5=B0 w7=B0"},
        {1, "w1=A8 w3=A8 w5=A8 w7=A8"},
        {4, "w1=B8 w3=B8 w5=B8 w7=B8"},
    };
    for (const auto& c : cases) {
        clearRecords();
        EXPECT_EQ(AZQ4810SETMULTIPLIER(c.multiplier), 0);
        EXPECT_STREQ(Sim::trace(), c.trace);
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(Sim::multiplier(axis), c.multiplier);
        }
    }
    clearRecords();
    Sim::failCallsFrom(Sim::Call::DeviceRequest, 2);
    EXPECT_EQ(AZQ4810SETMULTIPLIER(2), 765);
    EXPECT_EQ(notices(), repeated(RequestFailed, 3));
}

TEST_F(BoardTest, ModeFieldsAreComposedInTheirShadowsAndSent)
{
    initializeQuietly();
    const struct {
        int selector;
        int mode;
        const char* trace;
    } steps[] = {
        {1, 3, "w8=30"},
        {0, 5, "w8=35"},
        {4, 2, "w8=22 w9=22"},
        {3, 7, "w9=72"},
        {2, 0, "w9=70"},
        // The mode is masked to its field: nothing spills into the neighbour.
        {4, 0, "w8=00 w9=00"},
        {0, 0x1F, "w8=0F"},
        {1, 0x1F, "w8=FF"},
        {4, 0x1F, "w8=FF w9=FF"},
        {2, -1, "w9=FF"},
        {3, 0x100, "w9=0F"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.trace);
        clearRecords();
        EXPECT_EQ(AZQ4810CHANGEMODE(step.selector, step.mode), 0);
        EXPECT_STREQ(Sim::trace(), step.trace);
    }
    EXPECT_EQ(Sim::modePort(8), 0xFF);
    EXPECT_EQ(Sim::modePort(9), 0x0F);
    EXPECT_TRUE(notices().empty());
}

TEST_F(BoardTest, ModeShadowKeepsItsValueWhenTheWriteFailsAndStartClearsIt)
{
    initializeQuietly();
    Sim::failCall(Sim::Call::DeviceRequest, 1);
    EXPECT_EQ(AZQ4810CHANGEMODE(1, 6), 255);
    EXPECT_EQ(AZQ4810CHANGEMODE(0, 1), 0);
    EXPECT_STREQ(Sim::trace(), "w8=60! w8=61");

    // Selector 4 sets both shadows before the first write.
    clearRecords();
    Sim::failCall(Sim::Call::DeviceRequest, 1);
    EXPECT_EQ(AZQ4810CHANGEMODE(4, 9), 255);
    EXPECT_EQ(AZQ4810CHANGEMODE(2, 1), 0);
    EXPECT_STREQ(Sim::trace(), "w8=99! w9=99 w9=91");

    // A board start sets both shadows to zero again.
    ASSERT_EQ(AZQ4810INITIALIZE(), 0);
    clearRecords();
    EXPECT_EQ(AZQ4810CHANGEMODE(1, 2), 0);
    EXPECT_EQ(AZQ4810CHANGEMODE(2, 3), 0);
    EXPECT_STREQ(Sim::trace(), "w8=20 w9=03");
}

TEST_F(BoardTest, RefusedArgumentsAnswerBeforeAnyTraffic)
{
    initializeQuietly();
    const int badAxes[] = {INT_MIN, -1, 4, INT_MAX};
    for (int axis : badAxes) {
        SCOPED_TRACE(axis);
        EXPECT_EQ(AZQ4810READPOSITION(axis), 1);
        EXPECT_EQ(AZQ4810RESETCOUNTER(axis), 1);
        EXPECT_EQ(AZQ4810PRWRITE(axis, 0x123456), 1);
    }
    const int badMultipliers[] = {INT_MIN, -1, 0, 3, 5, INT_MAX};
    for (int multiplier : badMultipliers) {
        SCOPED_TRACE(multiplier);
        EXPECT_EQ(AZQ4810SETMULTIPLIER(multiplier), 1);
    }
    const int badSelectors[] = {INT_MIN, -1, 5, INT_MAX};
    for (int selector : badSelectors) {
        SCOPED_TRACE(selector);
        EXPECT_EQ(AZQ4810CHANGEMODE(selector, 1), 0);
    }
    EXPECT_STREQ(Sim::trace(), "");
    EXPECT_EQ(Sim::callCount(Sim::Call::Any), 0);
    EXPECT_TRUE(notices().empty());
}

TEST_F(BoardTest, EveryBoardExportBeforeInitializeFailsAtItsRequests)
{
    const struct {
        const char* call;
        int (*run)();
        int result;
        std::vector<std::string> shown;
    } cases[] = {
        {"READPOSITION(0)", [] { return AZQ4810READPOSITION(0); }, -1, repeated(RequestFailed, 5)},
        {"RESETCOUNTER(0)", [] { return AZQ4810RESETCOUNTER(0); }, 255, repeated(RequestFailed, 1)},
        {"SETMULTIPLIER(4)", [] { return AZQ4810SETMULTIPLIER(4); }, 1020, repeated(RequestFailed, 4)},
        {"PRWRITE(0, 5)", [] { return AZQ4810PRWRITE(0, 5); }, 1020, repeated(RequestFailed, 4)},
        {"CHANGEMODE(4, 1)", [] { return AZQ4810CHANGEMODE(4, 1); }, 510, repeated(RequestFailed, 2)},
        {"CLOSE", [] { return AZQ4810CLOSE(); }, 510, {CloseReadFailed, CloseWriteFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        clearRecords();
        EXPECT_EQ(c.run(), c.result);
        EXPECT_EQ(notices(), c.shown);
        EXPECT_EQ(Sim::callCount(Sim::Call::Any), 0); // nothing reached the system
    }
}

} // namespace

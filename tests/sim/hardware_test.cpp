// The board's hardware model on its own: the chip behaviour the library's sequences
// rely on, driven through the simulator's controls and the exports; and the
// motion step that the host simulator and the simulated driver both feed
// with their clocks.
#include "model/motion.h"
#include "tests/support.h"

using namespace TestSupport;

namespace {

using HardwareTest = LibraryTest;

TEST_F(HardwareTest, PowersOnWithZeroCountersAndMultiplierOne)
{
    for (int axis = 0; axis < 4; ++axis) {
        EXPECT_EQ(Sim::counter(axis), 0u);
        EXPECT_EQ(Sim::preset(axis), 0u);
        EXPECT_EQ(Sim::multiplier(axis), 1);
    }
    EXPECT_EQ(Sim::modePort(8), 0);
    EXPECT_EQ(Sim::modePort(9), 0);
    EXPECT_EQ(Sim::modePort(7), -1);
}

TEST_F(HardwareTest, MotionWrapsAt24BitsBothWays)
{
    Sim::setCounter(0, 0xFFFFFE);
    Sim::moveAxis(0, 3);
    EXPECT_EQ(Sim::counter(0), 1u);
    Sim::moveAxis(0, -2);
    EXPECT_EQ(Sim::counter(0), 0xFFFFFFu);
    Sim::moveAxis(0, INT_MIN); // -2^31 counts: a multiple of 2^24
    EXPECT_EQ(Sim::counter(0), 0xFFFFFFu);
    Sim::moveAxis(4, 1);  // no such axis: nothing moves
    Sim::moveAxis(-1, 1);
    EXPECT_EQ(Sim::counter(3), 0u);
}

TEST(HardwareMotion, EachAxisFollowsItsRateAtItsMultiplierAndAHeldStepIsDropped)
{
    Hardware::Board board;
    Hardware::powerOn(board);
    Hardware::Motion motion;
    const int rates[4] = {100, -250, 3, 0};
    Hardware::startMotion(motion, rates, 1000); // a clock in milliseconds
    struct Step {
        Hardware::Ticks now;
        bool held;
        uint32_t counters[4];
    };
    // Axis 0 counts 4 per cycle from the second step; axis 2 shows that the
    // fractions of a cycle are not lost between steps, but are while held.
    const Step steps[] = {
        {3000, false, {200, 0x1000000 - 500, 6, 0}},
        {3500, false, {400, 0x1000000 - 625, 7, 0}},
        {4500, true, {400, 0x1000000 - 625, 7, 0}},
        {5000, false, {600, 0x1000000 - 750, 9, 0}},
    };
    for (const Step& step : steps) {
        Hardware::followMotion(motion, board, step.now, 1000, step.held);
        for (int axis = 0; axis < 4; ++axis) {
            EXPECT_EQ(board.axes[axis].counter, step.counters[axis]) << "at " << step.now << ", axis " << axis;
        }
        board.axes[0].multiplier = 4;
    }
    // A clock that counts nothing per second moves nothing.
    Hardware::followMotion(motion, board, 9000, 0, false);
    EXPECT_EQ(board.axes[0].counter, 600u);
}

} // namespace

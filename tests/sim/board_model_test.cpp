// The simulated board on its own: the chip behaviour the library's sequences
// rely on, driven through the simulator's controls and the exports.
#include "tests/support.h"

using namespace TestSupport;

namespace {

using BoardModelTest = LibraryTest;

TEST_F(BoardModelTest, PowersOnWithZeroCountersAndMultiplierOne)
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

TEST_F(BoardModelTest, MotionWrapsAt24BitsBothWays)
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

} // namespace

// The board's hardware model on its own: the chip behaviour the library's sequences
// rely on, driven through the simulator's controls and the exports; and the
// motion step that the host simulator and the simulated driver both feed
// with their clocks.
#include "model/motion.h"
#include "tests/support.h"

#include <cstring>

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

// What the board answers at each of its 16 ports, and what each kind of
// control byte does to an axis: the model behind both simulated drivers and
// behind the emulated kernel's ports, so every proof through them rests on it.
TEST(HardwarePorts, EveryPortAndEveryKindOfControlByte)
{
    struct Axis {
        Hardware::Word counter, preset, latch;
        Hardware::Byte pointer, multiplier;
    };
    const Axis start = {0x123456, 0xABCDEF, 0x777777, 2, 1};
    struct Case {
        Hardware::Byte control;
        Axis after;
    };
    const Case cases[] = {
        {0x00, start},                                         // no command bit
        {0x01, {0x123456, 0xABCDEF, 0x777777, 0, 1}},          // byte pointer reset
        {0x02, {0, 0xABCDEF, 0x777777, 2, 1}},                 // counter reset
        {0x08, {0xABCDEF, 0xABCDEF, 0x777777, 2, 1}},          // counter from preset
        {0x10, {0x123456, 0xABCDEF, 0x123456, 2, 1}},          // latch from counter
        {0x0A, {0xABCDEF, 0xABCDEF, 0x777777, 2, 1}},          // reset, then load
        {0x12, {0, 0xABCDEF, 0, 2, 1}},                        // reset, then latch
        {0x18, {0xABCDEF, 0xABCDEF, 0xABCDEF, 2, 1}},          // load, then latch
        {0x1B, {0xABCDEF, 0xABCDEF, 0xABCDEF, 0, 1}},          // all four
        {0x24, start},                                         // command bits no command uses
        {0xA8, start},                                         // one count a cycle
        {0xB0, {0x123456, 0xABCDEF, 0x777777, 2, 2}},
        {0xB8, {0x123456, 0xABCDEF, 0x777777, 2, 4}},
        {0x40, start},                                         // settings: top bits set,
        {0x5B, start},                                         // whatever command bits they carry
        {0x7F, start},
        {0xA9, start},
        {0xC3, start},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "control byte 0x" << std::hex << int{c.control});
        Hardware::Board board;
        Hardware::powerOn(board);
        board.axes[1] = Hardware::Axis{start.preset, start.counter, start.latch, start.pointer, start.multiplier};
        Hardware::writePort(board, 3, c.control);
        const Hardware::Axis& axis = board.axes[1];
        EXPECT_EQ(axis.counter, c.after.counter);
        EXPECT_EQ(axis.preset, c.after.preset);
        EXPECT_EQ(axis.latch, c.after.latch);
        EXPECT_EQ(axis.pointer, c.after.pointer);
        EXPECT_EQ(axis.multiplier, c.after.multiplier);
        EXPECT_EQ(board.axes[0].counter, 0u); // the other axes hear nothing
    }

    // Every port read once, in order, on a board whose latches and mode
    // ports hold known bytes: a data port gives its latch byte at the
    // pointer and moves on, a control port reads 0, the mode ports what was
    // written, the six ports above them 0xFF; writing those changes nothing,
    // not even a byte between the fields: a write one past the mode ports
    // would land in the board's tail padding, where no field shows it and no
    // sanitizer looks. The board's every byte starts at 0, padding too, so
    // that a read from there cannot give 0xFF by chance.
    Hardware::Board board;
    std::memset(&board, 0, sizeof board);
    Hardware::powerOn(board);
    for (Hardware::Word i = 0; i < Hardware::AxisCount; ++i) {
        board.axes[i].latch = 0x030201 * (i + 1);
        board.axes[i].pointer = static_cast<Hardware::Byte>(i % 3);
    }
    Hardware::writePort(board, 8, 0x5A);
    Hardware::writePort(board, 9, 0xA5);
    unsigned char before[sizeof board];
    std::memcpy(before, &board, sizeof board);
    for (Hardware::Word port = 10; port < Hardware::PortCount; ++port) {
        Hardware::writePort(board, port, 0x99);
    }
    EXPECT_EQ(std::memcmp(before, &board, sizeof board), 0);
    const int expected[Hardware::PortCount] = {0x01, 0, 0x04, 0, 0x09, 0, 0x04, 0, 0x5A, 0xA5,
                                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (Hardware::Word port = 0; port < Hardware::PortCount; ++port) {
        EXPECT_EQ(Hardware::readPort(board, port), expected[port]) << "port " << port;
    }
    EXPECT_EQ(board.axes[0].pointer, 1); // each data port moved on by one
    EXPECT_EQ(board.axes[2].pointer, 0);
}

} // namespace

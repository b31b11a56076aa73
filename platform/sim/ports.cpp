// What sits behind the simulated device's ports: the board's hardware model
// (model/hardware.h), a loop-back that can be made to answer wrongly, and the
// controls through which tests and programs look at the board and move its
// axes.
#include "platform/sim/internal.h"

namespace {

using Hardware::AxisCount;

Hardware::Board theBoard;
bool poweredOn;
// Per axis and latch byte: the value answered instead, plus one; 0 for none.
int corruptValue[AxisCount][3];

bool isAxis(int axis)
{
    return axis >= 0 && axis < static_cast<int>(AxisCount);
}

} // namespace

namespace SimPorts {

Hardware::Board& board()
{
    if (!poweredOn) {
        Hardware::powerOn(theBoard);
        poweredOn = true;
    }
    return theBoard;
}

Hardware::Byte read(Hardware::Word offset)
{
    Hardware::Board& b = board();
    if (offset < 2 * AxisCount && offset % 2 == 0) {
        const int corrupt = corruptValue[offset / 2][b.axes[offset / 2].pointer];
        const Hardware::Byte value = Hardware::readPort(b, offset);
        return corrupt > 0 ? static_cast<Hardware::Byte>(corrupt - 1) : value;
    }
    return Hardware::readPort(b, offset);
}

void write(Hardware::Word offset, Hardware::Byte value)
{
    Hardware::writePort(board(), offset, value);
}

void reset()
{
    Hardware::powerOn(theBoard);
    poweredOn = true;
    for (auto& axis : corruptValue) {
        for (int& value : axis) {
            value = 0;
        }
    }
}

} // namespace SimPorts

namespace Sim {

void corruptEcho(int axis, int byteIndex, int value)
{
    if (!isAxis(axis) || byteIndex < 0 || byteIndex > 2) {
        return;
    }
    // Stored plus one, so that zero means "not corrupted".
    corruptValue[axis][byteIndex] = value < 0 ? 0 : (value & 0xFF) + 1;
}

void moveAxis(int axis, int cycles)
{
    Hardware::move(SimPorts::board(), static_cast<Hardware::Word>(axis), cycles);
}

void setCounter(int axis, uint32_t value)
{
    if (isAxis(axis)) {
        SimPorts::board().axes[axis].counter = value & Hardware::CounterMask;
    }
}

uint32_t counter(int axis)
{
    return isAxis(axis) ? SimPorts::board().axes[axis].counter : 0;
}

uint32_t preset(int axis)
{
    return isAxis(axis) ? SimPorts::board().axes[axis].preset : 0;
}

int multiplier(int axis)
{
    return isAxis(axis) ? SimPorts::board().axes[axis].multiplier : 0;
}

int modePort(int port)
{
    const int index = port - static_cast<int>(Hardware::FirstModePort);
    return index >= 0 && index < static_cast<int>(Hardware::ModePortCount) ? SimPorts::board().modePorts[index]
                                                                             : -1;
}

} // namespace Sim

// The simulated board: the hardware model the host simulator uses, in the
// driver's memory, so the whole Windows product runs on a machine without
// the board. The registered address is taken but nothing is at it.
//
// Optional encoder motion, for a live readout that moves: the Parameters
// value SimulatedCyclesPerSecond (a DWORD, 0 or absent for none) turns the
// encoders, axis n at n+1 times that rate, the odd axes backwards. The motion
// follows the clock and is applied when a request comes, so an idle driver
// costs nothing.
//
// The encoders pause from a port write until the next port read. The board
// start loads each counter and latches it two writes later, and its loop-back
// test needs the machine at rest in between; a program that only reads
// positions sees smooth motion, since a read's own two writes come right
// before its reads.
#include "ports.h"

#include "model/hardware.h"
#include "model/motion.h"

namespace {

using Hardware::Word;

// Far more than any readout can show.
constexpr unsigned long MaxCyclesPerSecond = 100000;

Hardware::Board board;
Hardware::Motion motion;
bool moving;
bool paused;

void followMotion()
{
    if (!moving) {
        return;
    }
    unsigned long long ticksPerSecond = 0;
    const unsigned long long now = DriverClock(&ticksPerSecond);
    Hardware::followMotion(motion, board, now, ticksPerSecond, paused);
}

} // namespace

extern "C" const char PortsKind[] = "simulated";

extern "C" int PortsStart(void* parametersKey, unsigned int address, unsigned int count)
{
    static_cast<void>(address);
    static_cast<void>(count);
    Hardware::powerOn(board);
    unsigned long rate = 0;
    if (!DriverQueryDword(parametersKey, L"SimulatedCyclesPerSecond", &rate)) {
        rate = 0;
    }
    const int base = static_cast<int>(rate < MaxCyclesPerSecond ? rate : MaxCyclesPerSecond);
    // Axis n at n+1 times the rate, the odd axes backwards.
    int rates[Hardware::AxisCount];
    for (Word axis = 0; axis < Hardware::AxisCount; ++axis) {
        const int rateOfAxis = base * static_cast<int>(axis + 1);
        rates[axis] = axis % 2 == 0 ? rateOfAxis : -rateOfAxis;
    }
    unsigned long long ticksPerSecond = 0;
    Hardware::startMotion(motion, rates, DriverClock(&ticksPerSecond));
    moving = base != 0;
    paused = false;
    return 1;
}

extern "C" unsigned char PortsRead(unsigned int offset)
{
    followMotion();
    paused = false;
    return Hardware::readPort(board, offset);
}

extern "C" void PortsWrite(unsigned int offset, unsigned char value)
{
    followMotion();
    paused = true;
    Hardware::writePort(board, offset, value);
}

// The simulated board: the board model the host simulator uses, in the
// driver's memory, so the whole Windows product runs on a machine without
// the board. The registered address is taken but nothing is at it.
//
// Optional encoder motion, for a live readout that moves: the Parameters
// value SimulatedCyclesPerSecond (a DWORD, 0 or absent for none) turns the
// encoders, axis n at n+1 times that rate, the odd axes backwards. The motion
// follows the clock and is applied when a request comes, so an idle driver
// costs nothing.
#include "ports.h"

#include "platform/sim/board_model.h"

namespace {

using BoardModel::Word;

constexpr unsigned long long TicksPerSecond = 10000000; // the clock counts 100 ns
// Keeps elapsed ticks times the rate inside 64 bits for years of uptime.
constexpr unsigned long MaxCyclesPerSecond = 10000;

BoardModel::Board board;
unsigned long cyclesPerSecond;
unsigned long long startedAt;
unsigned long long cyclesApplied;

void followMotion()
{
    if (cyclesPerSecond == 0) {
        return;
    }
    const unsigned long long due = (DriverClock() - startedAt) * cyclesPerSecond / TicksPerSecond;
    // The counters wrap at 24 bits, so only that much of the step matters;
    // it also keeps the step, times 4 axes, inside an int.
    const int cycles = static_cast<int>((due - cyclesApplied) & BoardModel::CounterMask);
    cyclesApplied = due;
    for (Word axis = 0; axis < BoardModel::AxisCount; ++axis) {
        const int step = cycles * static_cast<int>(axis + 1);
        BoardModel::move(board, axis, axis % 2 == 0 ? step : -step);
    }
}

} // namespace

extern "C" const char PortsKind[] = "simulated";

extern "C" int PortsStart(void* parametersKey, unsigned long address, unsigned long count)
{
    static_cast<void>(address);
    static_cast<void>(count);
    BoardModel::powerOn(board);
    unsigned long rate = 0;
    if (!DriverQueryDword(parametersKey, L"SimulatedCyclesPerSecond", &rate)) {
        rate = 0;
    }
    cyclesPerSecond = rate < MaxCyclesPerSecond ? rate : MaxCyclesPerSecond;
    startedAt = DriverClock();
    cyclesApplied = 0;
    return 1;
}

extern "C" unsigned char PortsRead(unsigned long offset)
{
    followMotion();
    return BoardModel::readPort(board, offset);
}

extern "C" void PortsWrite(unsigned long offset, unsigned char value)
{
    followMotion();
    BoardModel::writePort(board, offset, value);
}

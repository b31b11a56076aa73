// Encoder motion that follows a clock: each axis turns at its own rate, and
// whoever owns the clock brings the board up to date before it is read. The
// host simulator feeds it the host's clock, the simulated driver the
// kernel's; both hand over whatever ticks their clock counts in.
//
// Freestanding like the hardware model: no C library, no heap, no host types.
#pragma once

#include "model/hardware.h"

namespace Hardware {

typedef unsigned long long Ticks;

struct Motion {
    int cyclesPerSecond[AxisCount]; // negative turns backwards
    Ticks startedAt;
    Ticks applied[AxisCount];       // cycles applied since the start
};

// Starts every axis at its rate from the clock's reading now.
void startMotion(Motion& motion, const int cyclesPerSecond[AxisCount], Ticks now);

// Moves every axis by the cycles its rate has made due since the last step.
// While held, the time passes but the encoders stand: those cycles are
// dropped, not saved up. A clock of no ticks per second moves nothing.
void followMotion(Motion& motion, Board& board, Ticks now, Ticks ticksPerSecond, bool held);

} // namespace Hardware

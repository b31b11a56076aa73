#include "model/motion.h"

namespace Hardware {

void startMotion(Motion& motion, const int cyclesPerSecond[AxisCount], Ticks now)
{
    for (Word axis = 0; axis < AxisCount; ++axis) {
        motion.cyclesPerSecond[axis] = cyclesPerSecond[axis];
        motion.applied[axis] = 0;
    }
    motion.startedAt = now;
}

void followMotion(Motion& motion, Board& board, Ticks now, Ticks ticksPerSecond, bool held)
{
    if (ticksPerSecond == 0) {
        return;
    }
    const Ticks elapsed = now - motion.startedAt;
    for (Word axis = 0; axis < AxisCount; ++axis) {
        const int rate = motion.cyclesPerSecond[axis];
        const Ticks speed = rate < 0 ? 0 - static_cast<Ticks>(rate) : static_cast<Ticks>(rate);
        // Whole seconds and the rest apart, so that no product leaves 64
        // bits for any clock rate over years.
        const Ticks due = elapsed / ticksPerSecond * speed + elapsed % ticksPerSecond * speed / ticksPerSecond;
        // The counters wrap at 24 bits, so only that much of the step
        // matters; it also keeps the step inside an int.
        const int cycles = static_cast<int>((due - motion.applied[axis]) & CounterMask);
        motion.applied[axis] = due;
        if (!held && cycles != 0) {
            move(board, axis, rate < 0 ? -cycles : cycles);
        }
    }
}

} // namespace Hardware

// The simulated machine's axes moving by themselves, so that a program
// watching the counters sees them change. Motion is applied lazily: each time
// the driver is about to serve a request, every axis is brought up to where
// its speed has carried it since motion started.
#include "platform/sim/control.h"
#include "platform/sim/sim_api.h"

#include <chrono>
#include <stdint.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int AxisCount = 4;

bool moving;
int speed[AxisCount];    // encoder cycles per second
int64_t moved[AxisCount]; // cycles applied since motion started
Clock::time_point started;

} // namespace

namespace SimMotion {

void catchUp()
{
    if (!moving) {
        return;
    }
    const int64_t elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    for (int axis = 0; axis < AxisCount; ++axis) {
        const int64_t due = speed[axis] * elapsed / 1000;
        if (due != moved[axis]) {
            Sim::moveAxis(axis, static_cast<int>(due - moved[axis]));
            moved[axis] = due;
        }
    }
}

void reset()
{
    moving = false;
}

} // namespace SimMotion

namespace Sim {

void startMotion(const int cyclesPerSecond[4])
{
    if (SimMotion::stillByRequest()) {
        return;
    }
    for (int axis = 0; axis < AxisCount; ++axis) {
        speed[axis] = cyclesPerSecond[axis];
        moved[axis] = 0;
    }
    started = Clock::now();
    moving = true;
}

void stopMotion()
{
    SimMotion::catchUp();
    moving = false;
}

} // namespace Sim

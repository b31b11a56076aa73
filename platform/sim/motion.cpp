// The simulated machine's axes moving by themselves, so that a program
// watching the counters sees them change: the hardware model's motion step fed
// by the host's clock. Motion is applied lazily: each time the driver is
// about to serve a request, every axis is brought up to where its speed has
// carried it since motion started.
#include "platform/sim/control.h"

#include "model/motion.h"
#include "platform/sim/internal.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
constexpr Hardware::Ticks TicksPerSecond = 1000;

bool moving;
bool still; // set by the environment; a reset keeps it
Hardware::Motion motion;

Hardware::Ticks now()
{
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<Hardware::Ticks>(sinceEpoch.count());
}

} // namespace

namespace SimMotion {

void catchUp()
{
    if (moving) {
        Hardware::followMotion(motion, SimPorts::board(), now(), TicksPerSecond, false);
    }
}

void holdStill()
{
    still = true;
}

void reset()
{
    moving = false;
}

} // namespace SimMotion

namespace Sim {

void startMotion(const int cyclesPerSecond[4])
{
    if (still) {
        return;
    }
    Hardware::startMotion(motion, cyclesPerSecond, now());
    moving = true;
}

} // namespace Sim

// The simulated machine's axes moving by themselves, so that a program
// watching the counters sees them change: the board model's motion step fed
// by the host's clock. Motion is applied lazily: each time the driver is
// about to serve a request, every axis is brought up to where its speed has
// carried it since motion started.
#include "platform/sim/control.h"

#include "model/motion.h"
#include "platform/sim/internal.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
constexpr BoardModel::Ticks TicksPerSecond = 1000;

bool moving;
bool still; // set by the environment; a reset keeps it
BoardModel::Motion motion;

BoardModel::Ticks now()
{
    const auto sinceEpoch = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<BoardModel::Ticks>(sinceEpoch.count());
}

} // namespace

namespace SimMotion {

void catchUp()
{
    if (moving) {
        BoardModel::followMotion(motion, SimBoard::board(), now(), TicksPerSecond, false);
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
    BoardModel::startMotion(motion, cyclesPerSecond, now());
    moving = true;
}

} // namespace Sim

#include "platform/sim/control.h"

#include "platform/sim/faults.h"
#include "platform/sim/sim_api.h"

namespace Sim {

void reset()
{
    SimFaults::reset();
    SimDevice::reset();
    SimNotices::reset();
    SimRegistryFaults::reset();
    SimRegistry::reset();
    SimMotion::reset();
}

} // namespace Sim

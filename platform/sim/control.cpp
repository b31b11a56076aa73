// The simulated machine as a whole: booting it afresh and restarting it.
#include "platform/sim/control.h"

#include "zq4810/registry_paths.h"
#include "platform/sim/internal.h"

namespace Sim {

void reset()
{
    SimFaults::reset();
    SimDevice::reset();
    SimPorts::reset();
    clearTrace();
    SimNotices::reset();
    SimRegistryFaults::reset();
    SimRegistry::reset();
    SimMotion::reset();
}

void restartMachine()
{
    if (registryKeyExists(RegistryPaths::ServiceKey)) {
        registryCreateKey(RegistryPaths::EnumKey);
    }
}

} // namespace Sim

// The simulated machine as a whole: booting it afresh and restarting it.
#include "platform/sim/control.h"

#include "platform/sim/internal.h"

namespace {

constexpr const char ServiceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810";
constexpr const char EnumKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Enum";

} // namespace

namespace Sim {

void reset()
{
    SimFaults::reset();
    SimDevice::reset();
    SimBoard::reset();
    clearTrace();
    SimNotices::reset();
    SimRegistryFaults::reset();
    SimRegistry::reset();
    SimMotion::reset();
}

void restartMachine()
{
    if (registryKeyExists(ServiceKey)) {
        registryCreateKey(EnumKey);
    }
}

} // namespace Sim

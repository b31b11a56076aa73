// Taking the driver's registration out of the registry again.
#pragma once

#include "common/types.h"

namespace DriverRemoval {

// Removes the service key alone: 0, or 255 when it cannot be removed (it
// still has subkeys, or is not there).
i32 deleteService();

// Removes Parameters, Enum and the service key, each attempted whatever the
// others gave: 255 for each one that could not be removed.
i32 deleteAll();

} // namespace DriverRemoval

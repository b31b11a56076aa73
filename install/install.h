// Registering the driver with the system and taking the registration out
// again: what the exports call. The service key with its start values, the
// Parameters key with the board's base address and port count, and an event
// source for the driver's log entries; the driver reads them when it starts,
// at system start, so a first registration needs a restart.
#pragma once

#include "common/types.h"

namespace DriverRegistration {

// 0 the service key was there; 1 created now and not declined; -1 created
// now and declined (removed again); 255 it could not be created or opened.
i32 checkIfDriver();

// 0 everything written; 255 failure (already shown).
i32 setBaseAddress(i32 base);

} // namespace DriverRegistration

namespace DriverRemoval {

// Removes the service key alone: 0, or 255 when it cannot be removed (it
// still has subkeys, or is not there).
i32 deleteService();

// Removes Parameters, Enum and the service key, each attempted whatever the
// others gave: 255 for each one that could not be removed.
i32 deleteAll();

} // namespace DriverRemoval

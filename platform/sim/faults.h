// Inside the simulated platform: the counting and fault rules shared by the
// device, the registry and, on Windows, the wrappers around the real registry.
#pragma once

#include "platform/sim/control.h"

namespace SimFaults {

// Counts one call of this kind (and one of Call::Any) and tells whether it
// must fail.
bool hit(Sim::Call kind);

// Counts and faults back to nothing.
void reset();

} // namespace SimFaults

// Registering the driver and removing its registration, shown step by step.
// Shared by install, remove and the demo.
#pragma once

namespace InstallSteps {

// AZQ4810CHECKIFDRIVER, then (unless the user declined or it failed)
// AZQ4810SETBASEADDRESS(base). True when the base address was written;
// firstSetup tells whether the registration was created now.
bool install(int base, bool* firstSetup);

// AZQ4810DELETEALL, where there is a registration to remove; a machine
// without one is told so and left alone. True when nothing of the
// registration is left.
bool remove();

} // namespace InstallSteps

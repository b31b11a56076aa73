// Inside the DLL's process: the system functions the DLL may import
// (imports.cpp), served by this program's simulated platform, and what the
// loader (loader.cpp) shares with them.
#pragma once

#include "emulator/system.h"

namespace Emulator {

extern const FunctionTable Imports;

// The process the imports serve, and the parts of it the DLL may write
// into: its own data and the stack.
System& process();
bool guestMayWrite(uint64_t address, uint64_t size);

} // namespace Emulator

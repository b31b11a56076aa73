// The nine system functions the DLL may import, bound to this program's
// simulated platform: each takes the guest's arguments, copies strings and
// buffers between the guest's memory and the host's, calls the function of
// the same name here, and hands back what it returned. Both widths: the
// guest's pointers, handles and structures are 32 or 64 bits wide as its
// machine is.
#pragma once

#include "emulator/machine.h"

namespace Emulator {

constexpr int ImportCount = 9;
constexpr int MaxImportArguments = 9;

struct ImportFunction {
    const char* library;
    const char* name;
    int arguments;
    // Serves one call; a fault of the DLL's (a pointer to memory it does not
    // have, a string without its end) is described in problem.
    uint64_t (*serve)(Machine& machine, const uint64_t* arguments, char* problem, size_t size);
};

extern const ImportFunction Imports[ImportCount];

// The parts of the guest the DLL may write into: its own data and the stack
// (loader.cpp).
bool guestMayWrite(uint64_t address, uint64_t size);

} // namespace Emulator

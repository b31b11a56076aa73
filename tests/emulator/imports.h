// The nine system functions the DLL may import, bound to this program's
// simulated platform: each takes the guest's arguments, copies strings and
// buffers between the guest's memory and the host's, calls the function of
// the same name here, and hands back what it returned.
#pragma once

#include <unicorn/unicorn.h>

#include <stddef.h>
#include <stdint.h>

namespace Emulator {

constexpr int ImportCount = 9;
constexpr int MaxImportArguments = 9;

struct Import {
    const char* library;
    const char* name;
    int arguments;
    // Serves one call; a fault of the DLL's (a pointer to memory it does not
    // have, a string without its end) is described in problem.
    uint32_t (*serve)(uc_engine* uc, const uint32_t* arguments, char* problem, size_t size);
};

extern const Import Imports[ImportCount];

} // namespace Emulator

// lib2KZQ4810.so: the library's own sources with the simulated platform in one
// shared object, so that the Python and .NET bindings run on Linux without a
// board. It is test and development support, never shipped.
//
// The simulator takes its settings from ZQ4810_SIM once, when the object is
// loaded, as the console tool does when it starts: a program that loads it
// sets the variable first. This glue is the only code here that runs on load;
// the library's own code still has none.
#include "platform/sim/control.h"

#include <cstdio>

namespace {

__attribute__((constructor)) void configureSimulator()
{
    const char* unknown = Sim::configureFromEnvironment();
    if (unknown != nullptr) {
        std::fprintf(stderr, "lib2KZQ4810.so: ZQ4810_SIM: unknown setting '%s'\n", unknown);
    }
}

} // namespace

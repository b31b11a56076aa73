// zq4810: drives the counter board through the library's exports, as an
// application would. On this host the board is the simulated one.
#include "api/exports.h"
#include "platform/sim/control.h"

#include <cstdio>
#include <cstring>

namespace {

void step(const char* call, int result)
{
    std::printf("%-28s -> %d\n", call, result);
    std::fflush(stdout);
}

int demo()
{
    Sim::reset();
    std::printf("A board on the simulated platform: initialise, move, read, reset, preset, modes.\n");
    std::printf("Notices the library shows appear on standard error as [caption] text.\n\n");
    step("AZQ4810INITIALIZE()", AZQ4810INITIALIZE());
    for (int axis = 0; axis < 4; ++axis) {
        AZQ4810RESETCOUNTER(axis);
    }
    step("AZQ4810SETMULTIPLIER(4)", AZQ4810SETMULTIPLIER(4));
    const int cycles[4] = {250, -1200, 40000, 7};
    for (int axis = 0; axis < 4; ++axis) {
        Sim::moveAxis(axis, cycles[axis]);
        std::printf("  axis %d moves %d encoder cycles\n", axis, cycles[axis]);
    }
    char call[64];
    for (int axis = 0; axis < 4; ++axis) {
        std::snprintf(call, sizeof call, "AZQ4810READPOSITION(%d)", axis);
        step(call, AZQ4810READPOSITION(axis));
    }
    step("AZQ4810RESETCOUNTER(1)", AZQ4810RESETCOUNTER(1));
    step("AZQ4810READPOSITION(1)", AZQ4810READPOSITION(1));
    step("AZQ4810PRWRITE(2, 123456)", AZQ4810PRWRITE(2, 123456));
    step("AZQ4810CHANGEMODE(4, 5)", AZQ4810CHANGEMODE(4, 5));
    step("AZQ4810READPOSITION(7)", AZQ4810READPOSITION(7));
    step("AZQ4810CLOSE()", AZQ4810CLOSE());
    std::printf("\nAfter the close every request fails and shows its notice:\n");
    step("AZQ4810RESETCOUNTER(0)", AZQ4810RESETCOUNTER(0));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "demo") == 0) {
        return demo();
    }
    std::fprintf(stderr, "usage: zq4810 demo\n");
    return 2;
}

// The calls whose cost is counted, each in the state a machine in use is in:
// the driver registered and, where it matters, the board started. Shared by
// the host's instruction counter (under callgrind) and the shipped DLL's (in
// the emulator), so both count the same work.
#pragma once

#include "2KZQ4810/exports.h"
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"

namespace Scenarios {

struct Scenario {
    const char* name;
    const char* shown;  // the call as the tables write it
    int (*prepare)();   // run before each counted call, outside the count
    int (*measured)();
    bool started;       // whether the board is started before the loop
};

inline int none()
{
    return 0;
}

inline const Scenario All[] = {
    {"INITIALIZE", "`AZQ4810INITIALIZE` (again)", none, [] { return AZQ4810INITIALIZE(); }, true},
    {"READPOSITION", "`AZQ4810READPOSITION(0)`", none, [] { return AZQ4810READPOSITION(0); }, true},
    {"RESETCOUNTER", "`AZQ4810RESETCOUNTER(2)`", none, [] { return AZQ4810RESETCOUNTER(2); }, true},
    {"SETMULTIPLIER", "`AZQ4810SETMULTIPLIER(2)`", none, [] { return AZQ4810SETMULTIPLIER(2); }, true},
    {"CHANGEMODE", "`AZQ4810CHANGEMODE(4, 5)`", none, [] { return AZQ4810CHANGEMODE(4, 5); }, true},
    {"PRWRITE", "`AZQ4810PRWRITE(1, 0x12345678)`", none, [] { return AZQ4810PRWRITE(1, 0x12345678); }, true},
    // Opened by an INITIALIZE that is not counted.
    {"CLOSE", "`AZQ4810CLOSE`", [] { return AZQ4810INITIALIZE(); }, [] { return AZQ4810CLOSE(); }, false},
    {"CHECKIFDRIVER", "`AZQ4810CHECKIFDRIVER` (key present)", none, [] { return AZQ4810CHECKIFDRIVER(); }, true},
    {"SETBASEADDRESS", "`AZQ4810SETBASEADDRESS(0x300)` (registered)", none,
     [] { return AZQ4810SETBASEADDRESS(0x300); }, true},
    // Removes a registration the driver has run on, so every deletion succeeds.
    {"DELETEALL", "`AZQ4810DELETEALL`",
     [] {
         Sim::registryCreateKey(RegistryPaths::EnumKey);
         return AZQ4810SETBASEADDRESS(0x300);
     },
     [] { return AZQ4810DELETEALL(); }, true},
    {"READPOSITION-BAD", "`AZQ4810READPOSITION(4)` (refused)", none, [] { return AZQ4810READPOSITION(4); }, true},
};

// The machine as in use: the driver registered, the board started if asked.
inline void setUp(const Scenario& scenario)
{
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810SETBASEADDRESS(0x300);
    if (scenario.started) {
        AZQ4810INITIALIZE();
    }
    Sim::clearNotices();
}

} // namespace Scenarios

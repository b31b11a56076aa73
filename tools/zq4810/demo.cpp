// demo: the whole life of a board in one run, every library call shown with
// its result. It is what a newcomer runs first.
#include "2KZQ4810/exports.h"
#include "zq4810/registry_paths.h"
#include "tools/zq4810/commands.h"
#include "tools/zq4810/install_steps.h"
#include "tools/zq4810/output.h"
#include "tools/zq4810/session.h"
#include "tools/zq4810/target.h"

#include <cstdio>

namespace Commands {

namespace {

constexpr int DemoBase = 0x300;
constexpr int DemoMultiplier = 4;
constexpr int DemoPresetAxis = 2;
constexpr int DemoPreset = 123456;
// Encoder cycles per axis: forwards, backwards, a long way, a little.
constexpr int Motion[4] = {250, -1200, 40000, 7};

// The demo registers the driver and removes the registration again, which
// on a machine that has one would take the user's installation with it.
constexpr const char RefusedRegistered[] =
    "demo refused: the driver is registered on this machine, and the demo would\n"
    "  rewrite its base address and remove the registration at its end. Nothing was changed.";
constexpr const char RefusedUnknown[] =
    "demo refused: the registry cannot be read to tell whether the driver is registered,\n"
    "  and the demo must not touch a registration it did not make. Nothing was changed.";
constexpr const char TryTheBoard[] =
    "  To try the board as it is installed: zq4810 selftest, then zq4810 watch\n"
    "  (zq4810 shell for single commands). The demo runs where no registration exists.";
constexpr const char EventSourceRemoved[] = "  (the tool removes the driver's event source, which the registration added)";
constexpr const char EventSourceKept[] =
    "  The event source the registration added could not be removed: delete HKLM\\%s by hand.";
constexpr const char NothingCreated[] = "  Nothing was registered by the demo: nothing to remove.";

void heading(const char* text)
{
    Output::line("\n%s", text);
}

void readAll(const char* when)
{
    char call[40];
    for (int axis = 0; axis < 4; ++axis) {
        std::snprintf(call, sizeof call, "AZQ4810READPOSITION(%d)", axis);
        Output::step(call, AZQ4810READPOSITION(axis), when);
    }
}

// The counter calls of one run, on a board that opened.
bool count()
{
    bool allWell = true;
    char call[48];

    heading("Counting: multiplier, reset, motion, readings");
    std::snprintf(call, sizeof call, "AZQ4810SETMULTIPLIER(%d)", DemoMultiplier);
    int result = AZQ4810SETMULTIPLIER(DemoMultiplier);
    Output::step(call, result, "every axis counts 4 per encoder cycle");
    allWell = allWell && result == 0;
    for (int axis = 0; axis < 4; ++axis) {
        std::snprintf(call, sizeof call, "AZQ4810RESETCOUNTER(%d)", axis);
        result = AZQ4810RESETCOUNTER(axis);
        Output::step(call, result, "counter set to zero");
        allWell = allWell && result == 0;
    }
    readAll("before the motion");
    bool moved = false;
    for (int axis = 0; axis < 4; ++axis) {
        if (Target::moveAxis(axis, Motion[axis])) {
            Output::line("  (the machine turns axis %d's encoder by %d cycles)", axis, Motion[axis]);
            moved = true;
        }
    }
    if (moved) {
        readAll("after the motion");
    }
    result = AZQ4810RESETCOUNTER(1);
    Output::step("AZQ4810RESETCOUNTER(1)", result, "axis 1 back to zero");
    allWell = allWell && result == 0;
    Output::step("AZQ4810READPOSITION(1)", AZQ4810READPOSITION(1), "");

    heading("Preset and modes");
    std::snprintf(call, sizeof call, "AZQ4810PRWRITE(%d, %d)", DemoPresetAxis, DemoPreset);
    result = AZQ4810PRWRITE(DemoPresetAxis, DemoPreset);
    Output::step(call, result, "preset register of axis 2 loaded");
    allWell = allWell && result == 0;
    result = AZQ4810CHANGEMODE(4, 5);
    Output::step("AZQ4810CHANGEMODE(4, 5)", result, "all four mode fields set to 5");
    allWell = allWell && result == 0;
    result = AZQ4810CHANGEMODE(1, 9);
    Output::step("AZQ4810CHANGEMODE(1, 9)", result, "mode field 1 set to 9");
    allWell = allWell && result == 0;
    Output::step("AZQ4810READPOSITION(7)", AZQ4810READPOSITION(7),
                 "refused: there is no axis 7 (no port traffic, no notice)");
    return allWell;
}

} // namespace

int demo(int argc, char** argv)
{
    const int refused = noArguments("demo", argc, argv);
    if (refused != Done) {
        return refused;
    }
    const Target::Presence registration = Target::registryKey(RegistryPaths::ServiceKey);
    if (registration != Target::Presence::Absent) {
        Output::complain("%s", registration == Target::Presence::Present ? RefusedRegistered : RefusedUnknown);
        std::fprintf(stderr, "%s\n", TryTheBoard);
        return BadInput;
    }
    // The registration also makes the driver an event source, which no
    // export removes: the demo takes away the one it made.
    const bool eventSourceThere = Target::registryKey(RegistryPaths::EventSourceKey) != Target::Presence::Absent;
    Output::line("The whole life of a counter board, on %s.", Target::name());
    Output::line("Each line is one library call, its result and what the result means;");
    Output::line("the notices the library shows appear as %s.", Target::noticeForm());

    heading("Registration, once per machine");
    bool firstSetup = false;
    bool allWell = InstallSteps::install(DemoBase, &firstSetup);
    if (allWell && firstSetup && Target::restartMachine()) {
        Output::line("  (the machine restarts; the system starts the driver)");
    }

    heading("One application run: open and self-test");
    const int mask = Session::open();
    if (mask != Session::NoDevice) {
        allWell = count() && allWell && mask == 0;
        heading("Close");
        allWell = Session::close() == 0 && allWell;
        const int after = AZQ4810RESETCOUNTER(0);
        Output::step("AZQ4810RESETCOUNTER(0)", after, "after the close: the request fails, with its notice");
    } else {
        allWell = false;
    }

    heading("Removal");
    if (firstSetup) {
        allWell = InstallSteps::remove() && allWell;
        if (!eventSourceThere && Target::registryKey(RegistryPaths::EventSourceKey) == Target::Presence::Present) {
            const bool removed = Target::removeRegistryKey(RegistryPaths::EventSourceKey);
            if (removed) {
                Output::line("%s", EventSourceRemoved);
            } else {
                Output::line(EventSourceKept, RegistryPaths::EventSourceKey);
            }
            allWell = removed && allWell;
        }
    } else {
        Output::line("%s", NothingCreated);
    }
    Output::line("\n%s", allWell ? "Done: every step gave the result expected of a sound board."
                                 : "Done, with failures: see the results and notices above.");
    return allWell ? Done : Failed;
}

} // namespace Commands

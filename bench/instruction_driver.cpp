// Runs one export many times on the simulated platform, for callgrind to count
// the instructions the library itself executes (bench/instructions.sh): the
// script collects only inside the export and not inside the platform calls it
// makes, and divides by the platform calls this program reports.
//
// Usage: zq4810_instruction_driver EXPORT [times]
#include "api/exports.h"
#include "platform/sim/control.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Export {
    const char* name;
    int (*prepare)(); // run before each measured call, outside the count
    int (*measured)();
    bool started; // whether the board is started before the loop
};

int none()
{
    return 0;
}

const Export Exports[] = {
    {"INITIALIZE", none, [] { return AZQ4810INITIALIZE(); }, true},
    {"READPOSITION", none, [] { return AZQ4810READPOSITION(0); }, true},
    {"RESETCOUNTER", none, [] { return AZQ4810RESETCOUNTER(2); }, true},
    {"SETMULTIPLIER", none, [] { return AZQ4810SETMULTIPLIER(2); }, true},
    {"CHANGEMODE", none, [] { return AZQ4810CHANGEMODE(4, 5); }, true},
    {"PRWRITE", none, [] { return AZQ4810PRWRITE(1, 0x12345678); }, true},
    // Opened by an INITIALIZE that is not counted.
    {"CLOSE", [] { return AZQ4810INITIALIZE(); }, [] { return AZQ4810CLOSE(); }, false},
    {"CHECKIFDRIVER", none, [] { return AZQ4810CHECKIFDRIVER(); }, true},
    {"SETBASEADDRESS", none, [] { return AZQ4810SETBASEADDRESS(0x300); }, true},
    // Removes a registration the driver has run on, so every deletion succeeds.
    {"DELETEALL",
     [] {
         Sim::registryCreateKey("SYSTEM\\CurrentControlSet\\Services\\ZQ4810\\Enum");
         return AZQ4810SETBASEADDRESS(0x300);
     },
     [] { return AZQ4810DELETEALL(); }, true},
};

} // namespace

int main(int argc, char** argv)
{
    const Export* chosen = nullptr;
    for (const Export& e : Exports) {
        if (argc >= 2 && std::strcmp(argv[1], e.name) == 0) {
            chosen = &e;
        }
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "usage: %s EXPORT [times]\n", argv[0]);
        return 2;
    }
    const int times = argc > 2 ? std::atoi(argv[2]) : 1000;
    Sim::reset();
    Sim::echoNotices(false);
    // The machine as in use: the driver registered, the board started.
    AZQ4810SETBASEADDRESS(0x300);
    if (chosen->started) {
        AZQ4810INITIALIZE();
    }
    Sim::clearNotices();
    long requests = 0;
    long calls = 0;
    for (int i = 0; i < times; ++i) {
        chosen->prepare();
        Sim::resetCounts();
        chosen->measured();
        requests += Sim::callCount(Sim::Call::DeviceRequest);
        calls += Sim::callCount(Sim::Call::Any);
    }
    // Notices are only those of the preparation (the restart warning before
    // each DELETEALL); the measured calls take the normal path.
    std::printf("calls %d requests %ld platform-calls %ld notices %d\n", times, requests, calls,
                Sim::noticeCount());
    return 0;
}

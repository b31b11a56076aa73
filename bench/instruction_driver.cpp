// Runs one export many times on the simulated platform, for callgrind to count
// the instructions the library itself executes (bench/instructions.sh): the
// script collects only inside the export and not inside the platform calls it
// makes, and divides by the platform calls this program reports.
//
// Usage: zq4810_instruction_driver EXPORT [times]
//        zq4810_instruction_driver --list    (the exports it counts, one a line)
#include "bench/scenarios.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Scenarios::Scenario& e : Scenarios::All) {
            std::printf("%s\n", e.name);
        }
        return 0;
    }
    const Scenarios::Scenario* chosen = nullptr;
    for (const Scenarios::Scenario& e : Scenarios::All) {
        if (argc >= 2 && std::strcmp(argv[1], e.name) == 0) {
            chosen = &e;
        }
    }
    if (chosen == nullptr) {
        std::fprintf(stderr, "usage: %s EXPORT [times]\n", argv[0]);
        return 2;
    }
    const int times = argc > 2 ? std::atoi(argv[2]) : 1000;
    Scenarios::setUp(*chosen);
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

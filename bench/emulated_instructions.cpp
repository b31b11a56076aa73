// Counts the instructions the shipped 2KZQ4810.dll executes inside its own
// code for each export, in the emulator: exact and deterministic, the same
// DLL gives the same figures on any host. The import stubs and the simulated
// platform behind them are not counted.
//
// Usage: zq4810_emulated_instructions [DLL] [calls]   (a Markdown table)
#include "bench/scenarios.h"
#include "emulator/loader.h"

#include <cstdio>
#include <cstdlib>

namespace Emulator {

void reportBreach(const char* breach)
{
    std::fprintf(stderr, "the DLL broke a rule: %s\n", breach);
    std::exit(1);
}

} // namespace Emulator

int main(int argc, char** argv)
{
    const char* path = argc > 1 ? argv[1] : ZQ4810_EMULATED_DLL;
    const int times = argc > 2 ? std::atoi(argv[2]) : 10;
    if (!Emulator::load(path)) {
        std::fprintf(stderr, "%s\n", Emulator::error());
        return 1;
    }
    Emulator::countInstructions(true);
    std::printf("| export | platform calls per call | DLL instructions per call | per platform call | "
                "per device request |\n|---|---|---|---|---|\n");
    for (const Scenarios::Scenario& scenario : Scenarios::All) {
        Scenarios::setUp(scenario);
        unsigned long long instructions = 0;
        long requests = 0;
        long calls = 0;
        for (int i = 0; i < times; ++i) {
            scenario.prepare();
            Sim::resetCounts();
            const unsigned long long before = Emulator::instructions();
            scenario.measured();
            instructions += Emulator::instructions() - before;
            requests += Sim::callCount(Sim::Call::DeviceRequest);
            calls += Sim::callCount(Sim::Call::Any);
        }
        const double perCall = static_cast<double>(instructions) / times;
        char perPlatformCall[32] = "-", perRequest[32] = "-";
        if (calls > 0) {
            std::snprintf(perPlatformCall, sizeof perPlatformCall, "%.1f", static_cast<double>(instructions) / static_cast<double>(calls));
        }
        if (requests > 0) {
            std::snprintf(perRequest, sizeof perRequest, "%.1f", static_cast<double>(instructions) / static_cast<double>(requests));
        }
        std::printf("| %s | %g | %.0f | %s | %s |\n", scenario.shown, static_cast<double>(calls) / times, perCall,
                    perPlatformCall, perRequest);
    }
    std::printf("\n(%s, %d calls of each)\n", path, times);
    return 0;
}

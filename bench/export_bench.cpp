// What the library itself costs: each export on the simulated platform, next
// to the same platform calls made bare (the simulator's own functions called
// directly, with the same shapes), so the library's overhead is the ratio of
// the two in one run. Every benchmark also counts heap allocations made during
// its timed loop; the library makes none.
//
// The simulated device is at its cheapest here: no faults, no notices, and
// the request trace full after the first few thousand requests, so recording
// a request is a bounds check.
#include "2KZQ4810/exports.h"
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"
#include "platform/sim/internal.h"
#include "tests/heap_counter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

// ---- The bare platform calls -------------------------------------------------

constexpr DWORD ReadCode = 0;
constexpr DWORD WriteCode = 1;

HANDLE bareReader;
HANDLE bareWriter;

void openBare()
{
    bareReader = SimCreateFileA("\\\\.\\ZQ4810Dev", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    bareWriter = SimCreateFileA("\\\\.\\ZQ4810Dev", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
}

void closeBare()
{
    SimCloseHandle(bareReader);
    SimCloseHandle(bareWriter);
}

// The caller's request area, as the library keeps one: no buffers per call.
struct BareArea {
    BYTE input[5];
    BYTE output;
    DWORD returned;
} area;

// One port write and one port read as the library sends them, written out
// call by call in each bare sequence below, as the library's code is.
inline void w(BYTE port, BYTE value)
{
    area.input[0] = port;
    area.input[4] = value;
    SimDeviceIoControl(bareWriter, WriteCode, area.input, 5, nullptr, 0, &area.returned, nullptr);
}

inline BYTE r(BYTE port)
{
    area.input[0] = port;
    SimDeviceIoControl(bareReader, ReadCode, area.input, 4, &area.output, 1, &area.returned, nullptr);
    return area.output;
}

// What a board start sends when every axis echoes: the mode ports, then per
// axis the set-up, the pattern and three reads.
void boardStartBare()
{
    w(8, 0);
    w(9, 0);
    for (BYTE d = 0; d < 8; d = static_cast<BYTE>(d + 2)) {
        const BYTE c = static_cast<BYTE>(d + 1);
        w(d, 0x0E);
        w(c, 0x98);
        w(c, 0xC1);
        w(c, 0xB8);
        w(c, 0x02);
        w(c, 0x01);
        w(d, 0x12);
        w(d, 0x57);
        w(d, 0xDA);
        w(c, 0x08);
        w(c, 0x10);
        w(c, 0x01);
        benchmark::DoNotOptimize(r(d) == 0x12 && r(d) == 0x57 && r(d) == 0xDA);
    }
}

// ---- The registry, bare ----------------------------------------------------------

using RegistryPaths::EventSourceKey;
using RegistryPaths::ParametersKey;
using RegistryPaths::ServiceKey;
const char* const ServicesRoot = RegistryPaths::ServicesRootOpened;

HKEY createBare(const char* path)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    SimRegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                       &key, &disposition);
    return key;
}

void setDwordBare(HKEY key, const char* name, DWORD value)
{
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                           static_cast<BYTE>(value >> 24)};
    SimRegSetValueExA(key, name, 0, REG_DWORD, bytes, 4);
}

// The registry calls of SETBASEADDRESS on a registration already in place.
void setBaseAddressBare()
{
    HKEY service = createBare(ServiceKey);
    setDwordBare(service, "Type", 1);
    setDwordBare(service, "Start", 1);
    SimRegSetValueExA(service, "Group", 0, REG_SZ, reinterpret_cast<const BYTE*>("Extended Base"), 14);
    setDwordBare(service, "ErrorControl", 1);
    SimRegCloseKey(service);
    HKEY root = nullptr;
    SimRegOpenKeyExA(HKEY_LOCAL_MACHINE, ServicesRoot, 0, KEY_ALL_ACCESS, &root);
    SimRegCloseKey(root);
    SimRegCloseKey(createBare(EventSourceKey));
    HKEY parameters = createBare(ParametersKey);
    setDwordBare(parameters, "IoPortAddress", 0x300);
    setDwordBare(parameters, "IoPortCount", 16);
    SimRegCloseKey(parameters);
}

// ---- The benchmarks ------------------------------------------------------------

void prepare()
{
    Sim::reset();
    Sim::echoNotices(false);
    AZQ4810CLOSE();
    Sim::reset();
    Sim::echoNotices(false);
    Sim::clearNotices();
    AZQ4810INITIALIZE();
    openBare();
    Sim::echoNotices(false);
    AZQ4810SETBASEADDRESS(0x300);
    Sim::clearNotices();
}

void finish(benchmark::State& state, long allocationsBefore, int requestsPerCall)
{
    state.counters["allocations"] = static_cast<double>(HeapCounter::allocations() - allocationsBefore);
    state.counters["requests"] = requestsPerCall;
    if (Sim::noticeCount() != 0) {
        state.SkipWithError("a notice was shown: the run did not take the normal path");
    }
    closeBare();
    AZQ4810CLOSE();
}

template <typename Library, typename Bare>
void registerPair(const char* name, int requests, Library library, Bare bare)
{
    benchmark::RegisterBenchmark((std::string(name) + "/library").c_str(), [=](benchmark::State& state) {
        prepare();
        const long before = HeapCounter::allocations();
        for (auto _ : state) {
            benchmark::DoNotOptimize(library());
        }
        finish(state, before, requests);
    });
    benchmark::RegisterBenchmark((std::string(name) + "/bare").c_str(), [=](benchmark::State& state) {
        prepare();
        const long before = HeapCounter::allocations();
        for (auto _ : state) {
            bare();
        }
        finish(state, before, requests);
    });
}

void registerAll()
{
    // A second INITIALIZE closes the pair it holds, opens a new one and
    // starts the board.
    registerPair("INITIALIZE", 62, [] { return AZQ4810INITIALIZE(); }, [] {
        closeBare();
        openBare();
        boardStartBare();
    });
    registerPair("READPOSITION", 5, [] { return AZQ4810READPOSITION(0); }, [] {
        w(1, 0x10);
        w(1, 0x01);
        const BYTE low = r(0);
        const BYTE middle = r(0);
        const BYTE high = r(0);
        benchmark::DoNotOptimize(low | middle << 8 | high << 16);
    });
    registerPair("RESETCOUNTER", 1, [] { return AZQ4810RESETCOUNTER(2); }, [] { w(5, 0x02); });
    registerPair("SETMULTIPLIER", 4, [] { return AZQ4810SETMULTIPLIER(2); }, [] {
        w(1, 0xB0);
        w(3, 0xB0);
        w(5, 0xB0);
        w(7, 0xB0);
    });
    registerPair("CHANGEMODE", 2, [] { return AZQ4810CHANGEMODE(4, 5); }, [] {
        w(8, 0x55);
        w(9, 0x55);
    });
    registerPair("PRWRITE", 4, [] { return AZQ4810PRWRITE(1, 0x12345678); }, [] {
        w(3, 0x01);
        w(2, 0x78);
        w(2, 0x56);
        w(2, 0x34);
    });
    // CLOSE cannot run alone in a loop: it is measured with the INITIALIZE
    // that opens what it closes.
    registerPair("INITIALIZE+CLOSE", 62, [] { return AZQ4810INITIALIZE() + AZQ4810CLOSE(); }, [] {
        openBare();
        boardStartBare();
        closeBare();
    });
    registerPair("CHECKIFDRIVER", 0, [] { return AZQ4810CHECKIFDRIVER(); }, [] {
        SimRegCloseKey(createBare(ServiceKey));
    });
    registerPair("SETBASEADDRESS", 0, [] { return AZQ4810SETBASEADDRESS(0x300); }, setBaseAddressBare);
}

// Prints, after the usual table, each export's time over its bare calls' time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With repetitions, the median stands for the benchmark.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") {
                continue;
            }
            std::string name = run.run_name.function_name;
            const size_t slash = name.rfind('/');
            times[name.substr(0, slash)][name.substr(slash + 1)] = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Iteration) {
                allocationsSeen += static_cast<long>(run.counters.at("allocations").value);
            }
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-20s %12s %12s %8s\n", "export", "library ns", "bare ns", "ratio");
        for (const auto& entry : times) {
            const double library = entry.second.at("library");
            const double bare = entry.second.at("bare");
            std::printf("%-20s %12.1f %12.1f %8.3f\n", entry.first.c_str(), library, bare, library / bare);
        }
        std::printf("heap allocations in the timed loops: %ld\n", allocationsSeen);
    }

private:
    std::map<std::string, std::map<std::string, double>> times;
    long allocationsSeen = 0;
};

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

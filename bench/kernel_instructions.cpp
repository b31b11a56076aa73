// Counts the instructions of each ZQ4810.sys in the emulated kernel: the
// driver's own code per request, from the dispatch routine's entry to its
// return (the completion included, the kernel's functions not), and the
// whole software path per port byte, the DLL's instructions and the
// driver's together, for the counter exports. Exact and deterministic: the
// same files give the same figures on any host.
//
// Usage: zq4810_kernel_instructions [calls]   (Markdown tables)
#include "2KZQ4810/exports.h"
#include "bench/scenarios.h"
#include "emulator/kernel.h"
#include "emulator/loader.h"
#include "platform/sim/control.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Emulator {

void reportBreach(const char* breach)
{
    std::fprintf(stderr, "the DLL broke a rule: %s\n", breach);
    std::exit(1);
}

} // namespace Emulator

namespace {

struct Product {
    const char* driver;
    const char* dll;
    const char* shown;
};

const Product Products[] = {
    {ZQ4810_WIN32_BUILD "/driver/board/ZQ4810.sys", ZQ4810_WIN32_BUILD "/bin/2KZQ4810.dll", "i386 board"},
    {ZQ4810_WIN32_BUILD "/driver/simulated/ZQ4810.sys", ZQ4810_WIN32_BUILD "/bin/2KZQ4810.dll", "i386 simulated"},
    {ZQ4810_WIN64_BUILD "/driver/board/ZQ4810.sys", ZQ4810_WIN64_BUILD "/bin/2KZQ4810.dll", "x64 board"},
    {ZQ4810_WIN64_BUILD "/driver/simulated/ZQ4810.sys", ZQ4810_WIN64_BUILD "/bin/2KZQ4810.dll", "x64 simulated"},
};

const Emulator::DeviceFunctions KernelDevice = {Kernel::CreateFileA, Kernel::DeviceIoControl, Kernel::CloseHandle};

void stop(const char* what)
{
    std::fprintf(stderr, "%s%s%s\n", what, Kernel::breach(), Kernel::error());
    std::exit(1);
}

// The driver's instructions for one request of the library's kind.
double perRequest(uint32_t handle, uint32_t code, int times)
{
    const uint8_t input[5] = {9, 0, 0, 0, 0x5A};
    uint8_t byte = 0;
    uint32_t information = 0;
    const uint64_t before = Kernel::instructions();
    for (int i = 0; i < times; ++i) {
        if (Kernel::control(handle, code, input, code == 0 ? 4 : 5, &byte, code == 0 ? 1 : 0, &information) != 0) {
            stop("a request failed: ");
        }
    }
    return static_cast<double>(Kernel::instructions() - before) / times;
}

// The exports that send device requests, counted on a started board.
bool counted(const Scenarios::Scenario& scenario)
{
    static const char* const Names[] = {"INITIALIZE", "READPOSITION", "SETMULTIPLIER", "PRWRITE"};
    for (const char* name : Names) {
        if (std::strcmp(scenario.name, name) == 0) {
            return true;
        }
    }
    return false;
}

int requestsIn(const char* trace)
{
    int count = trace[0] != '\0' ? 1 : 0;
    for (const char* at = trace; *at != '\0'; ++at) {
        count += *at == ' ' ? 1 : 0;
    }
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    const int times = argc > 1 ? std::atoi(argv[1]) : 10;
    std::printf("| driver file | driver per read request | per write request |");
    for (const Scenarios::Scenario& scenario : Scenarios::All) {
        if (counted(scenario)) {
            std::printf(" %s: DLL, driver, together per request |", scenario.shown);
        }
    }
    std::printf("\n|---|---|---|---|---|---|---|\n");
    for (const Product& product : Products) {
        struct stat file;
        if (stat(product.driver, &file) != 0 || stat(product.dll, &file) != 0) {
            std::printf("| %s | not built |\n", product.shown);
            continue;
        }
        Sim::reset();
        Sim::echoNotices(false);
        if (!Emulator::load(product.dll)) {
            stop(Emulator::error());
        }
        Emulator::bindDevice(&KernelDevice);
        AZQ4810SETBASEADDRESS(0x300);
        if (!Kernel::boot(product.driver)) {
            stop("the driver did not start: ");
        }
        uint32_t status = 0;
        const uint32_t handle = Kernel::open("\\\\.\\ZQ4810Dev", 0xC0000000u, &status);
        std::printf("| %s | %.0f | %.0f |", product.shown, perRequest(handle, 0, times), perRequest(handle, 1, times));
        Kernel::close(handle);
        AZQ4810INITIALIZE();
        Emulator::countInstructions(true);
        for (const Scenarios::Scenario& scenario : Scenarios::All) {
            if (!counted(scenario)) {
                continue;
            }
            uint64_t dll = 0, driver = 0;
            int requests = 0;
            for (int i = 0; i < times; ++i) {
                scenario.prepare();
                Kernel::clearTraces();
                const uint64_t dllBefore = Emulator::instructions(), driverBefore = Kernel::instructions();
                scenario.measured();
                dll += Emulator::instructions() - dllBefore;
                driver += Kernel::instructions() - driverBefore;
                requests += requestsIn(Kernel::requestTrace());
            }
            const double n = requests > 0 ? requests : 1;
            std::printf(" %.1f, %.1f, %.1f |", static_cast<double>(dll) / n, static_cast<double>(driver) / n,
                        static_cast<double>(dll + driver) / n);
        }
        std::printf("\n");
        if (Kernel::breach()[0] != '\0') {
            stop("the driver broke a rule: ");
        }
        Emulator::bindDevice(nullptr);
    }
    std::printf("\n(%d calls of each; the i386 files behind the 32-bit DLL, the x64 ones behind the 64-bit DLL)\n",
                times);
    return 0;
}

// The tool on the simulated platform: the simulator's controls stand in for
// the machine.
#include "tools/zq4810/target.h"

#include "platform/sim/control.h"
#include "platform/win32.h"

#include <cstdio>
#include <ctime>
#include <time.h>
#include <unistd.h>

namespace Target {

namespace {

// Encoder cycles per second: different on every axis, one of them backwards,
// slow enough to follow by eye.
constexpr int DriftSpeed[4] = {25, -10, 300, 1};

} // namespace

const char* name()
{
    return "the simulated platform";
}

const char* noticeForm()
{
    return "\"[caption] text\" lines on standard error";
}

const char* prepare()
{
    static char problem[120];
    const char* unknown = Sim::configureFromEnvironment();
    if (unknown == nullptr) {
        return nullptr;
    }
    std::snprintf(problem, sizeof problem, "ZQ4810_SIM: unknown setting '%s'", unknown);
    return problem;
}

Presence registryKey(const char* path)
{
    // The simulator's own view of its registry: looking counts as no call.
    return Sim::registryKeyExists(path) ? Presence::Present : Presence::Absent;
}

bool removeRegistryKey(const char* path)
{
    return RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
}

bool moveAxis(int axis, int cycles)
{
    Sim::moveAxis(axis, cycles);
    return true;
}

bool restartMachine()
{
    Sim::restartMachine();
    return true;
}

void letAxesDrift()
{
    Sim::startMotion(DriftSpeed);
}

bool isTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) != 0;
}

void pause(int milliseconds)
{
    timespec wait{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

long long milliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void timestamp(char* text, std::size_t size)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char seconds[24];
    std::strftime(seconds, sizeof seconds, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text, size, "%s.%03ld", seconds, now.tv_nsec / 1000000);
}

} // namespace Target

// The simulated platform set up from the environment, for programs that run
// the library in a process of their own and for the tests that run them. The
// library itself never reads the environment; only the simulator does.
#include "zq4810/registry_paths.h"
#include "platform/sim/control.h"
#include "platform/sim/internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char Variable[] = "ZQ4810_SIM";
constexpr int IdYes = 6;
constexpr int IdNo = 7;

char unknown[64];

void report()
{
    using Sim::Call;
    using Sim::callCount;
    const int device =
        callCount(Call::DeviceOpen) + callCount(Call::DeviceRequest) + callCount(Call::DeviceClose);
    const int registry = callCount(Call::RegistryCreate) + callCount(Call::RegistryOpen) +
                         callCount(Call::RegistrySet) + callCount(Call::RegistryDelete);
    std::fprintf(stderr, "[sim] platform calls %d (device %d, registry %d), notices %d\n",
                 device + registry, device, registry, Sim::noticeCount());
}

// A whole number after "name=", or -1.
int numberAfter(const char* item, const char* name)
{
    const size_t length = std::strlen(name);
    if (std::strncmp(item, name, length) != 0 || item[length] != '=' || item[length + 1] == '\0') {
        return -1;
    }
    char* end = nullptr;
    const long value = std::strtol(item + length + 1, &end, 10);
    return *end == '\0' && value >= 0 && value <= 1000000 ? static_cast<int>(value) : -1;
}

bool apply(const char* item)
{
    using Sim::Call;
    int n = -1;
    if (std::strcmp(item, "no-device") == 0) {
        Sim::failCallsFrom(Call::DeviceOpen, 1);
    } else if ((n = numberAfter(item, "axis-fails")) >= 0 && n < 4) {
        // Every byte of the loop-back comes back inverted, so no pattern byte matches.
        Sim::corruptEcho(n, 0, 0xED);
        Sim::corruptEcho(n, 1, 0xA8);
        Sim::corruptEcho(n, 2, 0x25);
    } else if ((n = numberAfter(item, "request-fails")) > 0) {
        Sim::failCall(Call::DeviceRequest, n);
    } else if ((n = numberAfter(item, "requests-fail-from")) > 0) {
        Sim::failCallsFrom(Call::DeviceRequest, n);
    } else if (std::strcmp(item, "registry-fails") == 0) {
        Sim::failCallsFrom(Call::RegistryCreate, 1);
        Sim::failCallsFrom(Call::RegistryOpen, 1);
        Sim::failCallsFrom(Call::RegistrySet, 1);
        Sim::failCallsFrom(Call::RegistryDelete, 1);
    } else if (std::strcmp(item, "answer=yes") == 0 || std::strcmp(item, "answer=no") == 0) {
        static int answers[64];
        const int answer = item[7] == 'y' ? IdYes : IdNo;
        for (int& a : answers) {
            a = answer;
        }
        Sim::scriptAnswers(answers, 64);
    } else if (std::strcmp(item, "registered") == 0) {
        Sim::registryCreateKey(RegistryPaths::ServiceKey);
        Sim::registryCreateKey(RegistryPaths::ParametersKey);
        Sim::restartMachine();
    } else if (std::strcmp(item, "still") == 0) {
        SimMotion::holdStill();
    } else if (std::strcmp(item, "report") == 0) {
        std::atexit(report);
    } else {
        return false;
    }
    return true;
}

} // namespace

namespace Sim {

const char* configureFromEnvironment()
{
    const char* value = std::getenv(Variable);
    bool understood = true;
    while (value != nullptr && *value != '\0') {
        const char* comma = std::strchr(value, ',');
        const size_t length = comma != nullptr ? static_cast<size_t>(comma - value) : std::strlen(value);
        char item[64];
        if (length > 0) {
            const size_t kept = length < sizeof item - 1 ? length : sizeof item - 1;
            std::memcpy(item, value, kept);
            item[kept] = '\0';
            if (!apply(item) && understood) {
                std::snprintf(unknown, sizeof unknown, "%s", item);
                understood = false;
            }
        }
        value = comma != nullptr ? comma + 1 : nullptr;
    }
    return understood ? nullptr : unknown;
}

} // namespace Sim

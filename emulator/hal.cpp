// The HAL and the machine behind it: the clock, spin locks and the
// interrupt level, and the ports where the board sits, reached by the HAL's
// port functions (i386) or the driver's own instructions (x64).
#include "emulator/kernel_internal.h"

#include "platform/sim/control.h"

namespace Kernel {
namespace {

using Emulator::Convention;
using Emulator::OnlyI386;
using Emulator::OnlyX64;

constexpr uint32_t IoSpaceSize = 0x10000;

struct QueryPerformanceCounterArguments {
    uint64_t frequency; // where to write it, or null
};

uint64_t queryPerformanceCounter(const QueryPerformanceCounterArguments& a)
{
    if (a.frequency != 0) {
        if (!output(a.frequency, 8)) {
            return 0;
        }
        write32(a.frequency, static_cast<uint32_t>(TicksPerSecond));
        write32(a.frequency + 4, 0);
    }
    return state.clock;
}

struct AcquireArguments {
    uint64_t lock;
};

uint64_t acquireSpinLock(const AcquireArguments& a)
{
    if (!output(a.lock, pointerSize())) {
        return 0;
    }
    for (int i = 0; i < state.lockCount; ++i) {
        if (state.locks[i].address == a.lock) {
            breach(Rule::SpinLockPairs, "acquires the spin lock at 0x%llx, which it holds already",
                   static_cast<unsigned long long>(a.lock));
            return 0;
        }
    }
    if (state.lockCount == MaxLocks) {
        breach(Rule::Unsupported, "holds more than %d spin locks", MaxLocks);
        return 0;
    }
    const uint8_t old = state.irql;
    state.locks[state.lockCount++] = HeldLock{a.lock, old};
    state.irql = DispatchLevel;
    writePointer(a.lock, 1);
    return old;
}

struct ReleaseArguments {
    uint64_t lock, irql;
};

uint64_t releaseSpinLock(const ReleaseArguments& a)
{
    const uint8_t irql = static_cast<uint8_t>(a.irql);
    if (state.lockCount == 0 || state.locks[state.lockCount - 1].address != a.lock) {
        breach(Rule::SpinLockPairs, "releases the spin lock at 0x%llx, which it does not hold last",
               static_cast<unsigned long long>(a.lock));
        return 0;
    }
    if (irql != state.locks[state.lockCount - 1].irql) {
        breach(Rule::SpinLockPairs, "releases the spin lock at 0x%llx to IRQL %u, not to the %u it was taken at",
               static_cast<unsigned long long>(a.lock), irql, state.locks[state.lockCount - 1].irql);
        return 0;
    }
    --state.lockCount;
    state.irql = irql;
    writePointer(a.lock, 0);
    return 0;
}

struct ReadPortArguments {
    uint64_t port;
};

struct WritePortArguments {
    uint64_t port, value;
};

bool inIoSpace(uint64_t port)
{
    if (port >= IoSpaceSize) {
        breach(Rule::PortOutsideRegistered, "%s given 0x%llx, outside the I/O space", called(),
               static_cast<unsigned long long>(port));
        return false;
    }
    return true;
}

uint64_t readPortUchar(const ReadPortArguments& a)
{
    return inIoSpace(a.port) ? portAccess(false, a.port, 1, 0, Emulator::callText(state.system)) : 0;
}

uint64_t writePortUchar(const WritePortArguments& a)
{
    if (inIoSpace(a.port)) {
        portAccess(true, a.port, 1, static_cast<uint8_t>(a.value), Emulator::callText(state.system));
    }
    return 0;
}

constexpr Emulator::SystemFunction Rows[] = {
    Emulator::function<QueryPerformanceCounterArguments, queryPerformanceCounter>(
        Hal, "KeQueryPerformanceCounter", Convention::Stdcall, Emulator::WideResult),
    Emulator::function<AcquireArguments, acquireSpinLock>(Hal, "KfAcquireSpinLock", Convention::Fastcall, OnlyI386),
    Emulator::function<ReleaseArguments, releaseSpinLock>(Hal, "KfReleaseSpinLock", Convention::Fastcall, OnlyI386),
    Emulator::function<AcquireArguments, acquireSpinLock>(Ntoskrnl, "KeAcquireSpinLockRaiseToDpc",
                                                          Convention::Stdcall, OnlyX64),
    Emulator::function<ReleaseArguments, releaseSpinLock>(Ntoskrnl, "KeReleaseSpinLock", Convention::Stdcall, OnlyX64),
    Emulator::function<ReadPortArguments, readPortUchar>(Hal, "READ_PORT_UCHAR", Convention::Stdcall, OnlyI386),
    Emulator::function<WritePortArguments, writePortUchar>(Hal, "WRITE_PORT_UCHAR", Convention::Stdcall, OnlyI386),
};

} // namespace

const Emulator::FunctionTable HalFunctions = Emulator::tableOf(Rows);

// Every port access of the driver's, from the HAL's functions or its own
// instructions. by: "the instruction at ..." or "the call returning to ...".
uint8_t portAccess(bool write, uint64_t port, int size, uint8_t value, const char* by)
{
    const char* what = write ? "written" : "read";
    if (state.phase != Phase::Dispatch || state.request.major != MajorDeviceControl || state.request.completed) {
        breach(Rule::PortOutsideRequest, "port 0x%llx %s outside a device-control request, by %s",
               static_cast<unsigned long long>(port), what, by);
        return 0xFF;
    }
    if (size != 1) {
        breach(Rule::PortWidth, "port 0x%llx %s %d bytes wide by %s; the board's ports are one byte each",
               static_cast<unsigned long long>(port), what, size, by);
        return 0xFF;
    }
    if (port < state.portBase || port >= static_cast<uint64_t>(state.portBase) + state.portCount) {
        breach(Rule::PortOutsideRegistered, "port 0x%llx %s by %s, outside the registered ports 0x%x to 0x%x",
               static_cast<unsigned long long>(port), what, by, state.portBase, state.portBase + state.portCount - 1);
        return 0xFF;
    }
    if (state.turning) {
        Hardware::followMotion(state.motion, state.board, state.clock, TicksPerSecond, false);
    }
    const uint32_t offset = static_cast<uint32_t>(port - state.portBase);
    if (write) {
        Hardware::writePort(state.board, offset, value);
    } else {
        value = Hardware::readPort(state.board, offset);
    }
    appendToken(state.ports, write ? 'w' : 'r', offset, value, false);
    return value;
}

// Where the board's jumpers put it: the registered base address, and as many
// of the board's ports as are registered.
void placeBoard()
{
    uint32_t type = 0, size = 4, address = 0, count = 0;
    const char* parameters = RegistryPaths::ParametersKey;
    if (Sim::registryValue(parameters, "IoPortAddress", &type, reinterpret_cast<uint8_t*>(&address), &size) &&
        type == REG_DWORD && size == 4) {
        size = 4;
        if (Sim::registryValue(parameters, "IoPortCount", &type, reinterpret_cast<uint8_t*>(&count), &size) &&
            type == REG_DWORD && size == 4) {
            state.portBase = address;
            state.portCount = count < Hardware::PortCount ? count : Hardware::PortCount;
        }
    }
}

Hardware::Board& board() { return state.board; }

void turnEncoders(const int cyclesPerSecond[Hardware::AxisCount])
{
    Hardware::startMotion(state.motion, cyclesPerSecond, state.clock);
    state.turning = true;
}

void advanceClock(uint64_t milliseconds) { state.clock += milliseconds * (TicksPerSecond / 1000); }

} // namespace Kernel

// The emulated kernel: the driver's life, from its image mapped and bound to
// the kernel's functions through DriverEntry and the requests to its unload
// (see kernel.h). The hooks that hold it to the rules are kernel_watch.cpp's,
// the functions it imports each subsystem's file's.
#include "emulator/kernel_internal.h"

#include "emulator/coverage.h"
#include "platform/sim/control.h"

#include <cstdio>
#include <cstring>

namespace Kernel {

State state;

namespace {

constexpr Layout I386 = {KERNEL_OFFSETS(LAYOUT_FIELD_I386) KERNEL_SIZES(LAYOUT_VALUE_I386)
                             KERNEL_CONSTANTS(LAYOUT_VALUE_I386)};
constexpr Layout X64 = {KERNEL_OFFSETS(LAYOUT_FIELD_X64) KERNEL_SIZES(LAYOUT_VALUE_X64)
                            KERNEL_CONSTANTS(LAYOUT_VALUE_X64)};
constexpr uint16_t IoTypeDriver = 4;
// The performance counter a machine shows after some minutes up: half a
// second short of 2^32 ticks, so that whatever follows the clock over a
// start crosses a 32-bit boundary before long.
constexpr uint64_t ClockStart = (uint64_t{1} << 32) - TicksPerSecond / 2;

bool mapKernel(int bits)
{
    const Emulator::FunctionTable tables[] = {IoObjectFunctions, IoRequestFunctions, RegistryFunctions, HalFunctions,
                                              RtlFunctions};
    Emulator::System& system = state.system;
    system.guest = "the driver";
    system.host = "this kernel";
    system.images[0] = &state.image;
    if (!Emulator::openSystem(system, bits, tables, sizeof tables / sizeof tables[0], state.base + StubOffset,
                              state.base + StackOffset, StackSize)) {
        return false;
    }
    cpu().context = context;
    uc_engine* uc = cpu().uc;
    return uc_mem_map(uc, state.base + PoolOffset, PoolSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc, irpArea(), IrpAreaSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc, UserPage, 0x1000, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK;
}

// The driver object as the system hands it to DriverEntry.
void makeDriverObject()
{
    const Layout& l = state.layout;
    const uint64_t driver = allocate(l.DriverObjectSize);
    state.driverObject = driver;
    writeHeader(driver, IoTypeDriver, l.DriverObjectSize);
    writePointer(driver + l.DriverStart, state.image.base);
    write32(driver + l.DriverSize, static_cast<uint32_t>(state.image.size));
    const uint64_t name = unicodeString("\\Driver\\ZQ4810");
    uint8_t string[16]; // the counted string itself, its text where unicodeString put it
    Emulator::readGuest(cpu(), name, string, l.StringBuffer + pointerSize());
    Emulator::writeGuest(cpu(), driver + l.DriverName, string, l.StringBuffer + pointerSize());
    writePointer(driver + l.DriverInit, state.image.base + state.image.entry);
    for (int major = 0; major < MajorCount; ++major) {
        writePointer(driver + l.DriverMajorFunction + pointerSize() * static_cast<uint64_t>(major),
                     Emulator::haltAddress(state.system));
    }
    char path[160];
    std::snprintf(path, sizeof path, "%s%s", RegistryRoot, ServicePath);
    state.registryPath = unicodeString(path);
    state.fileObjects = allocate(MaxFiles * state.layout.FileObjectSize);
    state.fileNames = allocate(MaxFiles * MaxFileName * 2);
}

// The devices and links a routine left, which a driver that does not start,
// or that unloads, must not leave: "" when none.
const char* leftBehind()
{
    static char left[200];
    size_t length = 0;
    left[0] = '\0';
    for (const Device& device : state.devices) {
        if (device.used && length < sizeof left) {
            length += static_cast<size_t>(std::snprintf(left + length, sizeof left - length, ", the device %s",
                                                        device.name[0] != '\0' ? device.name : "(unnamed)"));
        }
    }
    for (const Link& link : state.links) {
        if (link.used && length < sizeof left) {
            length += static_cast<size_t>(std::snprintf(left + length, sizeof left - length, ", the link %s", link.name));
        }
    }
    return left[0] != '\0' ? left + 2 : left;
}

void dropDriver()
{
    state.running = false;
    for (Device& device : state.devices) {
        device = Device{};
    }
    for (Link& link : state.links) {
        link = Link{};
    }
}

// After a routine returned: the interrupt level and locks as they must be,
// every registry key closed, every error log entry it took written.
void checkLeftClean()
{
    if (state.lockCount > 0) {
        breach(Rule::SpinLockReturned, "returned holding the spin lock at 0x%llx",
               static_cast<unsigned long long>(state.locks[state.lockCount - 1].address));
    } else if (state.irql != PassiveLevel) {
        breach(Rule::PassiveLevel, "returned at IRQL %u, not at PASSIVE_LEVEL", state.irql);
    }
    for (const Key& opened : state.keys) {
        if (opened.open) {
            breach(Rule::KeyLeftOpen, "returned with the registry key %s open", opened.path);
            return;
        }
    }
    for (const LogEntry& entry : state.logEntries) {
        if (entry.address != 0 && !entry.written) {
            breach(Rule::ErrorLogUnwritten, "returned with the error log entry at 0x%llx allocated and never written",
                   static_cast<unsigned long long>(entry.address));
            return;
        }
    }
}

} // namespace

// ---- The kernel's address space --------------------------------------------------

uint64_t irpArea() { return state.base + IrpOffset; }

uint64_t allocate(uint32_t size)
{
    const uint64_t rounded = (static_cast<uint64_t>(size) + 15) & ~uint64_t{15};
    if (state.poolNext + rounded > state.base + PoolOffset + PoolSize) {
        return 0;
    }
    const uint64_t at = state.poolNext;
    state.poolNext += rounded;
    clear(at, rounded);
    return at;
}

void clear(uint64_t address, uint64_t size)
{
    static const uint8_t zeros[0x400] = {};
    for (uint64_t done = 0; done < size; done += sizeof zeros) {
        Emulator::writeGuest(cpu(), address + done, zeros, size - done < sizeof zeros ? size - done : sizeof zeros);
    }
}

bool inRange(uint64_t address, uint64_t size, uint64_t begin, uint64_t length)
{
    return address >= begin && address + size <= begin + length;
}

bool runDriver(Phase phase, uint64_t routine, const uint64_t* arguments, int count, const char* name,
               uint64_t* result)
{
    if (breached()) {
        return false;
    }
    state.phase = phase;
    if (state.irql != PassiveLevel) {
        breach(Rule::PassiveLevel, "%s entered at IRQL %u", name, state.irql);
    }
    *result = Emulator::callGuest(state.system, routine, arguments, count, name);
    if (!breached()) {
        checkLeftClean();
    }
    return !breached();
}

bool injected(uint32_t* status)
{
    for (Fault& fault : state.faults) {
        if (fault.function[0] != '\0' && std::strcmp(fault.function, called()) == 0) {
            fault.function[0] = '\0';
            *status = fault.status;
            return true;
        }
    }
    return false;
}

void appendToken(Trace& trace, char kind, uint32_t offset, uint8_t value, bool failed)
{
    char token[32];
    const int length = kind == 'w' ? std::snprintf(token, sizeof token, "%sw%u=%02X%s", trace.length ? " " : "",
                                                   offset, value, failed ? "!" : "")
                                   : std::snprintf(token, sizeof token, "%s%c%u%s", trace.length ? " " : "", kind,
                                                   offset, failed ? "!" : "");
    if (length > 0 && trace.length + static_cast<size_t>(length) + 1 < sizeof trace.text) {
        std::memcpy(trace.text + trace.length, token, static_cast<size_t>(length) + 1);
        trace.length += static_cast<size_t>(length);
    }
}

// ---- The driver's life -----------------------------------------------------

bool load(const char* path)
{
    Emulator::close(cpu());
    state = State{};
    Hardware::powerOn(state.board);
    const int width = Emulator::imageBits(path);
    state.layout = width == 64 ? X64 : I386;
    state.base = width == 64 ? KernelBase64 : KernelBase32;
    state.poolNext = state.base + PoolOffset;
    state.clock = ClockStart;
    if (!mapKernel(width == 64 ? 64 : 32)) {
        return Emulator::fail(state.error, "%s: the emulator cannot map the kernel", path);
    }
    if (!Emulator::mapImage(cpu(), path, Emulator::ImageKind::Driver, state.base + ImageOffset, state.image,
                            state.error) ||
        !Emulator::bindImports(state.system, state.image, path, state.error)) {
        return false;
    }
    if (state.image.codeCount == 0 || !watchDriver()) {
        return Emulator::fail(state.error, "%s: the emulator cannot watch the driver", path);
    }
    Emulator::cover(cpu(), state.image, path);
    makeDriverObject();
    state.loaded = true;
    return true;
}

const char* error() { return state.error.text; }

int bits() { return cpu().bits; }

uint32_t start()
{
    if (!state.loaded || state.running) {
        return StatusUnsuccessful;
    }
    placeBoard();
    const uint64_t arguments[2] = {state.driverObject, state.registryPath};
    uint64_t result = 0;
    const bool ran = runDriver(Phase::Entry, state.image.base + state.image.entry, arguments, 2, "DriverEntry", &result);
    const uint32_t status = static_cast<uint32_t>(result);
    if (ran && !succeeded(status) && leftBehind()[0] != '\0') {
        // A driver that does not start must leave nothing: the system unloads
        // it without calling its unload routine.
        breach(Rule::LeftBehind, "failed with 0x%08x and left behind %s", status, leftBehind());
    }
    state.phase = Phase::Idle;
    if (!ran || breached() || !succeeded(status)) {
        dropDriver();
        return ran ? status : 0;
    }
    for (const Device& device : state.devices) {
        if (device.used) {
            write32(device.address + state.layout.DeviceFlags,
                    read32(device.address + state.layout.DeviceFlags) & ~DeviceInitializing);
        }
    }
    state.running = true;
    return status;
}

bool boot(const char* path)
{
    Emulator::close(cpu());
    state = State{};
    if (!Sim::registryKeyExists(ServicePath)) {
        return false;
    }
    return load(path) && succeeded(start()) && state.running;
}

bool stop()
{
    const uint64_t routine = unloadRoutine();
    if (!state.running || openFiles() > 0 || routine == 0 || breached()) {
        return false;
    }
    uint64_t ignored = 0;
    if (runDriver(Phase::Unload, routine, &state.driverObject, 1, "DriverUnload", &ignored) &&
        leftBehind()[0] != '\0') {
        breach(Rule::LeftBehind, "left behind %s", leftBehind());
    }
    state.phase = Phase::Idle;
    dropDriver();
    return !breached();
}

bool running() { return state.running; }

const char* breach() { return cpu().breach; }

Emulator::Rule breachedRule() { return cpu().rule; }

const char* log() { return state.log; }

int errorLogCount() { return state.errorLogCount; }

const ErrorLogEntry& errorLogEntry(int index) { return state.errorLog[index]; }

const char* requestTrace() { return state.requests.text; }

const char* portTrace() { return state.ports.text; }

void clearTraces()
{
    state.requests = Trace{};
    state.ports = Trace{};
}

void failNext(const char* function, uint32_t status)
{
    for (Fault& fault : state.faults) {
        if (fault.function[0] == '\0') {
            std::snprintf(fault.function, sizeof fault.function, "%s", function);
            fault.status = status;
            return;
        }
    }
}

namespace {

// What save() kept: the kernel's state, the processor's registers and every
// page of its memory.
constexpr size_t MaxSaved = 1 << 20;
State saved;
uc_context* savedRegisters = nullptr;
uint8_t savedMemory[MaxSaved];
size_t savedSize = 0;

// Each mapped region in turn, with where it lies in savedMemory; false when
// it does not fit.
template <typename Visit>
bool forEachRegion(Visit visit)
{
    uc_mem_region* regions = nullptr;
    uint32_t count = 0;
    if (uc_mem_regions(cpu().uc, &regions, &count) != UC_ERR_OK) {
        return false;
    }
    size_t at = 0;
    bool fits = true;
    for (uint32_t k = 0; k < count && fits; ++k) {
        const uint64_t size = regions[k].end - regions[k].begin + 1;
        fits = at + size <= MaxSaved && visit(regions[k].begin, savedMemory + at, static_cast<size_t>(size));
        at += static_cast<size_t>(size);
    }
    uc_free(regions);
    savedSize = fits ? at : 0;
    return fits;
}

} // namespace

bool save()
{
    if (!state.loaded || cpu().uc == nullptr) {
        return false;
    }
    saved = state;
    if (savedRegisters != nullptr) {
        uc_context_free(savedRegisters);
    }
    if (uc_context_alloc(cpu().uc, &savedRegisters) != UC_ERR_OK || uc_context_save(cpu().uc, savedRegisters) != UC_ERR_OK) {
        return false;
    }
    return forEachRegion([](uint64_t address, uint8_t* into, size_t size) {
        return Emulator::readGuest(cpu(), address, into, size);
    });
}

bool restore()
{
    if (savedSize == 0 || cpu().uc != saved.system.machine.uc) {
        return false;
    }
    state = saved;
    uc_context_restore(cpu().uc, savedRegisters);
    // Only the pages that changed: writing the code's would drop what the
    // emulator translated of it.
    return forEachRegion([](uint64_t address, uint8_t* from, size_t size) {
        static uint8_t now[0x1000];
        for (size_t page = 0; page < size; page += sizeof now) {
            const size_t length = size - page < sizeof now ? size - page : sizeof now;
            if (!Emulator::readGuest(cpu(), address + page, now, length)) {
                return false;
            }
            if (std::memcmp(now, from + page, length) != 0 &&
                !Emulator::writeGuest(cpu(), address + page, from + page, length)) {
                return false;
            }
        }
        return true;
    });
}

uint64_t instructions() { return state.instructions; }

uint64_t imageBase() { return state.image.base; }

uint64_t entryPoint() { return state.image.base + state.image.entry; }

uint64_t dispatchRoutine(int major)
{
    if (!state.loaded || major < 0 || major >= MajorCount) {
        return 0;
    }
    const uint64_t routine = readPointer(state.driverObject + state.layout.DriverMajorFunction +
                                         pointerSize() * static_cast<uint64_t>(major));
    return routine == Emulator::haltAddress(state.system) ? 0 : routine;
}

uint64_t unloadRoutine() { return state.loaded ? readPointer(state.driverObject + state.layout.DriverUnload) : 0; }

uint64_t importSlot(const char* function) { return Emulator::importSlot(state.system, function); }

bool readGuest(uint64_t address, void* into, size_t size) { return Emulator::readGuest(cpu(), address, into, size); }

bool patch(uint64_t address, const uint8_t* bytes, size_t size) { return Emulator::patch(cpu(), address, bytes, size); }

} // namespace Kernel

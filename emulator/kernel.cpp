// The emulated kernel: the driver's image and its life, the hooks that hold
// it to the rules, the machine around it (see kernel.h). The functions it
// imports are kernel_functions.cpp's, the requests io_manager.cpp's.
#include "emulator/kernel_internal.h"

#include "platform/sim/control.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Kernel {

State state;

namespace {

using Emulator::Convention;
using Emulator::Range;

#define KERNEL_I386(name, type, member, i386, x64) i386,
#define KERNEL_X64(name, type, member, i386, x64) x64,
#define KERNEL_SIZE_I386(name, type, i386, x64) i386,
#define KERNEL_SIZE_X64(name, type, i386, x64) x64,
constexpr Layout I386 = {KERNEL_OFFSETS(KERNEL_I386) KERNEL_SIZES(KERNEL_SIZE_I386)
                             KERNEL_CONSTANTS(KERNEL_SIZE_I386)};
constexpr Layout X64 = {KERNEL_OFFSETS(KERNEL_X64) KERNEL_SIZES(KERNEL_SIZE_X64) KERNEL_CONSTANTS(KERNEL_SIZE_X64)};
static_assert(FunctionCount * Emulator::StubStride < 0xE00, "the stubs fit their page");

uint64_t defaultDispatch()
{
    return stubBase() + 0xE00; // a hlt: the system's own "invalid request" routine
}

// ---- The hooks -------------------------------------------------------------

void onInterrupt(uc_engine*, uint32_t number, void*)
{
    const int index = Emulator::stubIndex(cpu(), stubBase(), FunctionCount);
    if (number != 0x80 || index < 0) {
        breach("interrupt 0x%x by the instruction at %s", number, instructionText());
        return;
    }
    const Function& function = Functions[index];
    const uint64_t caller = Emulator::callerAddress(cpu());
    if (!Emulator::inside(state.image.code, state.image.codeCount, caller, 1)) {
        breach("%s called from 0x%llx, outside the driver's code", function.name,
               static_cast<unsigned long long>(caller));
        return;
    }
    Emulator::checkCallerStack(cpu(), function.name, state.entryStack);
    if (breached()) {
        return;
    }
    const Convention convention = state.machine.bits == 64 ? Convention::Microsoft : function.convention;
    uint64_t arguments[MaxArguments] = {};
    for (int i = 0; i < function.arguments; ++i) {
        arguments[i] = Emulator::argument(cpu(), convention, i);
    }
    const uint64_t result = function.handler(arguments);
    if (!breached()) {
        Emulator::setResult(cpu(), result, function.wide);
    }
}

void onWrite(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void*)
{
    if (driverMayWrite(address, static_cast<uint64_t>(size))) {
        return;
    }
    if (inRange(address, 1, irpArea(), IrpAreaSize) && (state.phase != Phase::Dispatch || state.request.completed)) {
        breach("the request's memory written at 0x%llx after its completion, by the instruction at %s",
               static_cast<unsigned long long>(address), instructionText());
        return;
    }
    breach("stray write of %d bytes at 0x%llx by the instruction at %s", size,
           static_cast<unsigned long long>(address), instructionText());
}

void onRequestRead(uc_engine*, uc_mem_type, uint64_t address, int, int64_t, void*)
{
    if (state.phase != Phase::Dispatch || state.request.completed) {
        breach("the request's memory read at 0x%llx after its completion, by the instruction at %s",
               static_cast<unsigned long long>(address), instructionText());
    }
}

bool onInvalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void*)
{
    if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
        breach("code run at 0x%llx, outside the driver and the kernel's functions",
               static_cast<unsigned long long>(address));
        return false;
    }
    const bool read = type == UC_MEM_READ_UNMAPPED || type == UC_MEM_READ_PROT;
    breach("%s of %d bytes at 0x%llx by the instruction at %s", read ? "read" : "write", size,
           static_cast<unsigned long long>(address), instructionText());
    return false;
}

void onCode(uc_engine*, uint64_t, uint32_t, void*)
{
    ++state.instructions;
}

const char* instructionAt()
{
    static char text[96];
    std::snprintf(text, sizeof text, "the instruction at %s", instructionText());
    return text;
}

uint32_t onIn(uc_engine*, uint32_t port, int size, void*)
{
    return portAccess(false, port, size, 0, instructionAt());
}

void onOut(uc_engine*, uint32_t port, int size, uint32_t value, void*)
{
    portAccess(true, port, size, static_cast<uint8_t>(value), instructionAt());
}

bool watch()
{
    uc_engine* uc = state.machine.uc;
    uc_hook hook;
    const Range code = state.image.code[0];
    return uc_hook_add(uc, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onWrite), nullptr, 1, 0) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_MEM_READ, reinterpret_cast<void*>(onRequestRead), nullptr, irpArea(),
                       irpArea() + IrpAreaSize - 1) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(onInvalid), nullptr, 1, 0) ==
               UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), nullptr, 1, 0) == UC_ERR_OK &&
           // The code hook also keeps the program counter current for the
           // port instructions' hooks.
           uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), nullptr, code.begin,
                       code.end - 1) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(onIn), nullptr, 1, 0, UC_X86_INS_IN) ==
               UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(onOut), nullptr, 1, 0, UC_X86_INS_OUT) ==
               UC_ERR_OK;
}

// ---- Loading ---------------------------------------------------------------

struct Binding {
    const char* path;
};

bool bind(void* context, const Emulator::Import& import)
{
    const char* path = static_cast<Binding*>(context)->path;
    if (import.name == nullptr) {
        return Emulator::fail(state.error, "%s: imports ordinal %u from %s; this kernel binds names", path,
                              import.ordinal, import.library);
    }
    for (int k = 0; k < FunctionCount; ++k) {
        const Function& function = Functions[k];
        if ((function.widths == 0 || function.widths == state.machine.bits) &&
            strcasecmp(function.library, import.library) == 0 && std::strcmp(function.name, import.name) == 0) {
            functionSlots[k] = import.slot;
            return Emulator::putPointer(cpu(), import.slot, stubBase() + Emulator::StubStride * static_cast<uint64_t>(k));
        }
    }
    return Emulator::fail(state.error, "%s: imports %s!%s, which this kernel does not have", path, import.library,
                          import.name);
}

bool mapKernel()
{
    uint16_t removed[FunctionCount];
    for (int k = 0; k < FunctionCount; ++k) {
        const Function& function = Functions[k];
        const int onStack = function.convention == Convention::Cdecl      ? 0
                            : function.convention == Convention::Fastcall ? function.arguments - 2
                                                                           : function.arguments;
        removed[k] = static_cast<uint16_t>(4 * (onStack > 0 ? onStack : 0));
    }
    uc_engine* uc = state.machine.uc;
    return Emulator::mapStubs(cpu(), stubBase(), removed, FunctionCount) &&
           uc_mem_map(uc, state.base + PoolOffset, PoolSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc, irpArea(), IrpAreaSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc, state.base + StackOffset, StackSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
           uc_mem_map(uc, UserPage, 0x1000, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK;
}

uint64_t unicodeString(const char* text)
{
    const size_t length = std::strlen(text);
    const uint64_t string = allocate(static_cast<uint32_t>(state.layout.StringBuffer + pointerSize() + 2 * length + 2));
    const uint64_t buffer = string + state.layout.StringBuffer + pointerSize();
    for (size_t i = 0; i < length; ++i) {
        write16(buffer + 2 * i, static_cast<uint8_t>(text[i]));
    }
    write16(string + state.layout.StringLength, static_cast<uint16_t>(2 * length));
    write16(string + state.layout.StringMaximumLength, static_cast<uint16_t>(2 * length + 2));
    writePointer(string + state.layout.StringBuffer, buffer);
    return string;
}

// The driver object as the system hands it to DriverEntry.
void makeDriverObject()
{
    const Layout& l = state.layout;
    const uint64_t driver = allocate(l.DriverObjectSize);
    state.driverObject = driver;
    write16(driver, 4); // IO_TYPE_DRIVER
    write16(driver + 2, static_cast<uint16_t>(l.DriverObjectSize));
    writePointer(driver + l.DriverStart, state.image.base);
    write32(driver + l.DriverSize, static_cast<uint32_t>(state.image.size));
    const uint64_t name = unicodeString("\\Driver\\ZQ4810");
    Emulator::writeGuest(cpu(), driver + l.DriverName, "\0\0\0\0\0\0\0\0", l.StringBuffer);
    write16(driver + l.DriverName + l.StringLength, read16(name + l.StringLength));
    write16(driver + l.DriverName + l.StringMaximumLength, read16(name + l.StringMaximumLength));
    writePointer(driver + l.DriverName + l.StringBuffer, readPointer(name + l.StringBuffer));
    writePointer(driver + l.DriverInit, state.image.base + state.image.entry);
    for (int major = 0; major < MajorCount; ++major) {
        writePointer(driver + l.DriverMajorFunction + pointerSize() * static_cast<uint64_t>(major), defaultDispatch());
    }
    char path[160];
    std::snprintf(path, sizeof path, "%s%s", RegistryRoot, ServicePath);
    state.registryPath = unicodeString(path);
    state.fileObjects = allocate(MaxFiles * state.layout.FileObjectSize);
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

} // namespace

// ---- Shared with the I/O manager -------------------------------------------

uint64_t stubBase()
{
    return state.base + StubOffset;
}

uint64_t stackTop()
{
    return state.base + StackOffset + StackSize - 64;
}

uint64_t irpArea()
{
    return state.base + IrpOffset;
}

uint64_t allocate(uint32_t size)
{
    const uint64_t rounded = (static_cast<uint64_t>(size) + 15) & ~uint64_t{15};
    const uint64_t end = state.base + PoolOffset + PoolSize;
    if (state.poolNext + rounded > end) {
        return 0;
    }
    const uint64_t at = state.poolNext;
    state.poolNext += rounded;
    static const uint8_t zeros[0x400] = {};
    for (uint64_t done = 0; done < rounded; done += sizeof zeros) {
        Emulator::writeGuest(cpu(), at + done, zeros, rounded - done < sizeof zeros ? rounded - done : sizeof zeros);
    }
    return at;
}

const char* context()
{
    static const char* const majors[] = {"IRP_MJ_CREATE", "IRP_MJ_CLOSE", "IRP_MJ_DEVICE_CONTROL", "IRP_MJ_CLEANUP"};
    static char text[96];
    switch (state.phase) {
    case Phase::Entry: return "DriverEntry";
    case Phase::Unload: return "DriverUnload";
    case Phase::Dispatch: {
        const int major = state.request.major;
        const char* name = major == MajorCreate          ? majors[0]
                           : major == MajorClose         ? majors[1]
                           : major == MajorDeviceControl ? majors[2]
                                                         : majors[3];
        if (major == MajorDeviceControl) {
            std::snprintf(text, sizeof text, "IRP %d (%s, code 0x%x)", state.request.number, name, state.request.code);
        } else {
            std::snprintf(text, sizeof text, "IRP %d (%s)", state.request.number, name);
        }
        return text;
    }
    case Phase::Idle: break;
    }
    return "the kernel";
}

const char* where(uint64_t address)
{
    // A few at once, for a message that names two places.
    static char whereText[4][64];
    static int whereNext;
    char* text = whereText[whereNext++ % 4];
    if (address >= state.image.base && address < state.image.base + state.image.size) {
        uint8_t bytes[4] = {};
        Emulator::readGuest(cpu(), address, bytes, sizeof bytes);
        std::snprintf(text, sizeof whereText[0], "ZQ4810.sys+0x%llx (%02x %02x %02x %02x)",
                      static_cast<unsigned long long>(address - state.image.base), bytes[0], bytes[1], bytes[2],
                      bytes[3]);
    } else {
        std::snprintf(text, sizeof whereText[0], "0x%llx", static_cast<unsigned long long>(address));
    }
    return text;
}

void breach(const char* format, ...)
{
    if (breached()) {
        return;
    }
    char what[200];
    va_list list;
    va_start(list, format);
    std::vsnprintf(what, sizeof what, format, list);
    va_end(list);
    Emulator::breach(cpu(), "%s: %s", context(), what);
}

bool breached()
{
    return Emulator::breached(state.machine);
}

bool runDriver(Phase phase, uint64_t routine, const uint64_t* arguments, int count, const char* name,
               uint64_t* result)
{
    if (breached()) {
        return false;
    }
    state.phase = phase;
    if (state.irql != PassiveLevel) {
        breach("%s entered at IRQL %u", name, state.irql);
    }
    *result = Emulator::callGuest(cpu(), routine, arguments, count, name, stackTop(), stubBase(), &state.entryStack);
    if (!breached()) {
        checkLeftClean();
    }
    // The processor's own rules (the stack, the registers) say what broke
    // but not in which request.
    const char* prefix = context();
    char* text = state.machine.breach;
    if (breached() && std::strncmp(text, prefix, std::strlen(prefix)) != 0) {
        char rule[160];
        std::snprintf(rule, sizeof rule, "%.159s", text);
        std::snprintf(text, sizeof state.machine.breach, "%.90s: %s", prefix, rule);
    }
    return !breached();
}

void checkLeftClean()
{
    if (state.lockCount > 0) {
        breach("returned holding the spin lock at 0x%llx",
               static_cast<unsigned long long>(state.locks[state.lockCount - 1].address));
    } else if (state.irql != PassiveLevel) {
        breach("returned at IRQL %u, not at PASSIVE_LEVEL", state.irql);
    }
    for (const Key& opened : state.keys) {
        if (opened.open) {
            breach("returned with the registry key %s open", opened.path);
            return;
        }
    }
    for (const LogEntry& entry : state.logEntries) {
        if (entry.address != 0 && !entry.written) {
            breach("returned with the error log entry at 0x%llx allocated and never written",
                   static_cast<unsigned long long>(entry.address));
            return;
        }
    }
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

uint64_t pointerSize()
{
    return state.machine.bits == 64 ? 8 : 4;
}

uint64_t readPointer(uint64_t address)
{
    return Emulator::guestPointer(cpu(), address);
}

void writePointer(uint64_t address, uint64_t value)
{
    Emulator::putPointer(cpu(), address, value);
}

void write32(uint64_t address, uint32_t value)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Emulator::writeGuest(cpu(), address, bytes, 4);
}

void write16(uint64_t address, uint16_t value)
{
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Emulator::writeGuest(cpu(), address, bytes, 2);
}

// ---- The driver's life -----------------------------------------------------

bool load(const char* path)
{
    Emulator::close(state.machine);
    state = State{};
    for (uint64_t& slot : functionSlots) {
        slot = 0;
    }
    Hardware::powerOn(state.board);
    const int width = Emulator::imageBits(path);
    if (!Emulator::open(state.machine, width == 64 ? 64 : 32)) {
        return Emulator::fail(state.error, "%s: the emulator cannot start", path);
    }
    state.layout = width == 64 ? X64 : I386;
    state.base = width == 64 ? KernelBase64 : KernelBase32;
    state.poolNext = state.base + PoolOffset;
    Binding binding{path};
    if (!mapKernel()) {
        return Emulator::fail(state.error, "%s: the emulator cannot map the kernel", path);
    }
    if (!Emulator::mapImage(cpu(), path, Emulator::ImageKind::Driver, state.base + ImageOffset, state.image,
                            state.error) ||
        !Emulator::forEachImport(cpu(), state.image, bind, &binding, path, state.error)) {
        return false;
    }
    if (state.image.codeCount == 0 || !watch()) {
        return Emulator::fail(state.error, "%s: the emulator cannot watch the driver", path);
    }
    makeDriverObject();
    state.loaded = true;
    return true;
}

const char* error()
{
    return state.error.text;
}

int bits()
{
    return state.machine.bits;
}

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
    if (ran && status >= 0x80000000u && leftBehind()[0] != '\0') {
        // A driver that does not start must leave nothing: the system unloads
        // it without calling its unload routine.
        breach("failed with 0x%08x and left behind %s", status, leftBehind());
    }
    state.phase = Phase::Idle;
    if (!ran || breached() || status >= 0x80000000u) {
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
    Emulator::close(state.machine);
    state = State{};
    if (!Sim::registryKeyExists(ServicePath)) {
        return false;
    }
    return load(path) && start() < 0x80000000u && state.running;
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
        breach("left behind %s", leftBehind());
    }
    state.phase = Phase::Idle;
    dropDriver();
    return !breached();
}

bool running()
{
    return state.running;
}

const char* breach()
{
    return state.machine.breach;
}

const char* log()
{
    return state.log;
}

int errorLogCount()
{
    return state.errorLogCount;
}

const ErrorLogEntry& errorLogEntry(int index)
{
    return state.errorLog[index];
}

const char* requestTrace()
{
    return state.requests.text;
}

const char* portTrace()
{
    return state.ports.text;
}

void clearTraces()
{
    state.requests = Trace{};
    state.ports = Trace{};
}

Hardware::Board& board()
{
    return state.board;
}

void turnEncoders(const int cyclesPerSecond[Hardware::AxisCount])
{
    Hardware::startMotion(state.motion, cyclesPerSecond, state.clock);
    state.turning = true;
}

void advanceClock(uint64_t milliseconds)
{
    state.clock += milliseconds * (TicksPerSecond / 1000);
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

uint64_t instructions()
{
    return state.instructions;
}

uint64_t imageBase()
{
    return state.image.base;
}

uint64_t entryPoint()
{
    return state.image.base + state.image.entry;
}

uint64_t dispatchRoutine(int major)
{
    if (!state.loaded || major < 0 || major >= MajorCount) {
        return 0;
    }
    const uint64_t routine = readPointer(state.driverObject + state.layout.DriverMajorFunction +
                                         pointerSize() * static_cast<uint64_t>(major));
    return routine == defaultDispatch() ? 0 : routine;
}

uint64_t unloadRoutine()
{
    return state.loaded ? readPointer(state.driverObject + state.layout.DriverUnload) : 0;
}

uint64_t importSlot(const char* function)
{
    for (int k = 0; k < FunctionCount; ++k) {
        if (std::strcmp(Functions[k].name, function) == 0 && functionSlots[k] != 0) {
            return functionSlots[k];
        }
    }
    return 0;
}

bool readGuest(uint64_t address, void* into, size_t size)
{
    return Emulator::readGuest(cpu(), address, into, size);
}

bool patch(uint64_t address, const uint8_t* bytes, size_t size)
{
    if (!Emulator::writeGuest(cpu(), address, bytes, size)) {
        return false;
    }
    uc_ctl_remove_cache(state.machine.uc, address, address + size);
    return true;
}

} // namespace Kernel

// The emulated kernel: the driver's image, the functions it imports, the
// rules it is held to, the ports and the board behind them (see kernel.h).
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
constexpr Layout I386 = {KERNEL_OFFSETS(KERNEL_I386) KERNEL_SIZES(KERNEL_SIZE_I386)};
constexpr Layout X64 = {KERNEL_OFFSETS(KERNEL_X64) KERNEL_SIZES(KERNEL_SIZE_X64)};

// The kernel's address space, from the top half's usual start on: stubs, a
// pool for the objects it makes, the request area, a stack, the driver.
constexpr uint64_t KernelBase32 = 0x80000000;
constexpr uint64_t KernelBase64 = 0xFFFFF80000000000;
constexpr uint64_t StubOffset = 0x00010000;
constexpr uint64_t PoolOffset = 0x00020000;
constexpr uint64_t PoolSize = 0x00010000;
constexpr uint64_t IrpOffset = 0x00100000;
constexpr uint64_t StackOffset = 0x00200000;
constexpr uint64_t StackSize = 0x6000;
constexpr uint64_t ImageOffset = 0x00400000;

constexpr uint8_t PassiveLevel = 0;
constexpr uint8_t DispatchLevel = 2;
constexpr uint32_t KeyQueryValue = 0x0001;
constexpr uint32_t PartialInformation = 2;
constexpr uint32_t DeviceInitializing = 0x80;
constexpr uint32_t IoSpaceSize = 0x10000;
constexpr char RegistryRoot[] = "\\Registry\\Machine\\";

using Handler = uint64_t (*)(const uint64_t* arguments);

struct Function {
    const char* library;
    const char* name;
    Convention convention; // on i386; x64 has one
    int arguments;
    Handler handler;
    int widths;   // 32, 64, or 0 for both
    bool wide;    // a 64-bit result, in edx:eax on i386
};

// ---- Helpers over the guest -----------------------------------------------

Emulator::Machine& cpu()
{
    return state.machine;
}

uint16_t read16(uint64_t address)
{
    return Emulator::guest16(cpu(), address);
}

uint32_t read32(uint64_t address)
{
    return Emulator::guest32(cpu(), address);
}

bool inStack(uint64_t address, uint64_t size)
{
    const uint64_t begin = state.base + StackOffset;
    return address >= begin && address + size <= begin + StackSize;
}

bool inRange(uint64_t address, uint64_t size, uint64_t begin, uint64_t length)
{
    return address >= begin && address + size <= begin + length;
}

// What the driver may write: its own data and stack; the driver object while
// DriverEntry fills it in; its devices' flags and extensions; and, while it
// serves a request, the request's status block and system buffer.
bool driverMayWrite(uint64_t address, uint64_t size)
{
    if (Emulator::inside(state.image.writable, state.image.writableCount, address, size) || inStack(address, size)) {
        return true;
    }
    if (state.phase == Phase::Entry && inRange(address, size, state.driverObject, state.layout.DriverObjectSize)) {
        return true;
    }
    for (const Device& device : state.devices) {
        if (device.used && (inRange(address, size, device.address + state.layout.DeviceFlags, 4) ||
                            inRange(address, size, device.extension, device.extensionSize))) {
            return true;
        }
    }
    if (state.phase == Phase::Dispatch && !state.request.completed) {
        const uint64_t irp = irpArea();
        const uint64_t statusBlock = irp + state.layout.IrpStatus;
        const uint64_t statusSize = state.layout.IrpInformation + pointerSize() - state.layout.IrpStatus;
        return inRange(address, size, statusBlock, statusSize) ||
               inRange(address, size, state.request.systemBuffer, state.request.systemBufferLength);
    }
    return false;
}

char whereText[4][64];
int whereNext;

const char* instructionText()
{
    return where(Emulator::instructionPointer(cpu()));
}

// Inside a kernel function: the driver's call of it.
const char* callText()
{
    static char text[96];
    std::snprintf(text, sizeof text, "the call returning to %s", where(Emulator::callerAddress(cpu())));
    return text;
}

// An output pointer the driver gives the kernel must point where it may write.
bool output(const char* function, uint64_t address, uint64_t size)
{
    if (address == 0 || !driverMayWrite(address, size)) {
        breach("%s given 0x%llx to write %llu bytes to, where the driver may not write", function,
               static_cast<unsigned long long>(address), static_cast<unsigned long long>(size));
        return false;
    }
    return true;
}

// A counted UTF-16 string of the driver's, as 8-bit text (other characters
// as '?'); false after a breach.
bool readName(const char* function, uint64_t string, char* into, size_t size)
{
    into[0] = '\0';
    const uint16_t length = read16(string + state.layout.StringLength);
    const uint64_t buffer = readPointer(string + state.layout.StringBuffer);
    uint8_t wide[2 * MaxName];
    if (string == 0 || length % 2 != 0 || length / 2 >= size || length > sizeof wide ||
        !Emulator::readGuest(cpu(), buffer, wide, length)) {
        breach("%s given a name at 0x%llx that the kernel cannot read", function,
               static_cast<unsigned long long>(string));
        return false;
    }
    for (uint16_t i = 0; i < length / 2; ++i) {
        const unsigned c = static_cast<unsigned>(wide[2 * i] | wide[2 * i + 1] << 8);
        into[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    into[length / 2] = '\0';
    return true;
}

bool injected(const char* function, uint32_t* status)
{
    for (Fault& fault : state.faults) {
        if (fault.function[0] != '\0' && std::strcmp(fault.function, function) == 0) {
            fault.function[0] = '\0';
            *status = fault.status;
            return true;
        }
    }
    return false;
}

void appendLog(const char* text)
{
    const size_t length = std::strlen(text);
    if (state.logLength + length + 1 < sizeof state.log) {
        std::memcpy(state.log + state.logLength, text, length + 1);
        state.logLength += length;
    }
}

// ---- The functions the driver imports ---------------------------------------

// DbgPrint's format, with the guest's arguments after it: the conversions a
// driver's messages use.
uint64_t dbgPrint(const uint64_t* a)
{
    char format[256], out[512];
    if (!Emulator::guestText(cpu(), a[0], format, sizeof format)) {
        breach("DbgPrint given a format at 0x%llx that the kernel cannot read", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    const Convention convention = state.machine.bits == 64 ? Convention::Microsoft : Convention::Cdecl;
    int next = 1;
    size_t length = 0;
    for (const char* at = format; *at != '\0' && length + 1 < sizeof out; ++at) {
        if (*at != '%') {
            out[length++] = *at;
            continue;
        }
        char spec[16] = "%";
        size_t n = 1;
        ++at;
        while (n < sizeof spec - 3 && *at != '\0' && std::strchr("0123456789-", *at) != nullptr) {
            spec[n++] = *at++;
        }
        while (*at == 'l' || *at == 'h') {
            ++at; // every argument is a machine word here
        }
        const char conversion = *at;
        char piece[160] = "";
        const uint64_t value = conversion == '%' ? 0 : Emulator::argument(cpu(), convention, next++);
        spec[n++] = conversion == 'p' ? 'x' : conversion;
        spec[n] = '\0';
        switch (conversion) {
        case '%': std::snprintf(piece, sizeof piece, "%%"); break;
        case 'd':
        case 'i': std::snprintf(piece, sizeof piece, spec, static_cast<int>(value)); break;
        case 'u':
        case 'x':
        case 'X':
        case 'p': std::snprintf(piece, sizeof piece, spec, static_cast<unsigned>(value)); break;
        case 'c': std::snprintf(piece, sizeof piece, spec, static_cast<int>(value & 0xFF)); break;
        case 's': {
            char text[128];
            if (!Emulator::guestText(cpu(), value, text, sizeof text)) {
                breach("DbgPrint given a string at 0x%llx that the kernel cannot read",
                       static_cast<unsigned long long>(value));
                return 0;
            }
            std::snprintf(piece, sizeof piece, spec, text);
            break;
        }
        default:
            breach("DbgPrint asked for the conversion %%%c, which this kernel does not print", conversion);
            return 0;
        }
        for (const char* p = piece; *p != '\0' && length + 1 < sizeof out; ++p) {
            out[length++] = *p;
        }
        if (conversion == '\0') {
            break;
        }
    }
    out[length] = '\0';
    appendLog(out);
    return StatusSuccess;
}

uint64_t rtlInitUnicodeString(const uint64_t* a)
{
    const uint64_t destination = a[0], source = a[1];
    if (!output("RtlInitUnicodeString", destination, state.layout.StringBuffer + pointerSize())) {
        return 0;
    }
    uint16_t characters = 0;
    while (source != 0 && characters < 0x7FFE && read16(source + 2u * characters) != 0) {
        ++characters;
    }
    write16(destination + state.layout.StringLength, static_cast<uint16_t>(2 * characters));
    write16(destination + state.layout.StringMaximumLength,
            static_cast<uint16_t>(source != 0 ? 2 * characters + 2 : 0));
    writePointer(destination + state.layout.StringBuffer, source);
    return 0;
}

Key* key(const char* function, uint64_t handle)
{
    const uint64_t slot = (handle - 0x80) / 4;
    if (handle < 0x80 || (handle - 0x80) % 4 != 0 || slot >= MaxKeys || !state.keys[slot].open) {
        breach("%s given the handle 0x%llx, which is no key the driver opened", function,
               static_cast<unsigned long long>(handle));
        return nullptr;
    }
    return &state.keys[slot];
}

uint64_t zwOpenKey(const uint64_t* a)
{
    const uint64_t handleOut = a[0], attributes = a[2];
    const uint32_t access = static_cast<uint32_t>(a[1]);
    if (!output("ZwOpenKey", handleOut, pointerSize())) {
        return 0;
    }
    if (read32(attributes + state.layout.AttributesLength) != state.layout.ObjectAttributesSize) {
        return StatusInvalidParameter;
    }
    char name[MaxName];
    if (!readName("ZwOpenKey", readPointer(attributes + state.layout.AttributesName), name, sizeof name)) {
        return 0;
    }
    char path[256];
    const uint64_t root = readPointer(attributes + state.layout.AttributesRoot);
    if (root != 0) {
        const Key* parent = key("ZwOpenKey", root);
        if (parent == nullptr) {
            return 0;
        }
        std::snprintf(path, sizeof path, "%s\\%s", parent->path, name);
    } else if (strncasecmp(name, RegistryRoot, sizeof RegistryRoot - 1) == 0) {
        std::snprintf(path, sizeof path, "%s", name + sizeof RegistryRoot - 1);
    } else {
        return StatusObjectNameNotFound;
    }
    uint32_t status = 0;
    if (injected("ZwOpenKey", &status)) {
        return status;
    }
    if (!Sim::registryKeyExists(path)) {
        return StatusObjectNameNotFound;
    }
    for (int slot = 0; slot < MaxKeys; ++slot) {
        Key& opened = state.keys[slot];
        if (!opened.open) {
            opened.open = true;
            opened.access = access;
            std::snprintf(opened.path, sizeof opened.path, "%s", path);
            writePointer(handleOut, 0x80 + 4 * static_cast<uint64_t>(slot));
            return StatusSuccess;
        }
    }
    return StatusInsufficientResources;
}

uint64_t zwQueryValueKey(const uint64_t* a)
{
    const uint64_t buffer = a[3], resultLength = a[5];
    const uint32_t informationClass = static_cast<uint32_t>(a[2]), length = static_cast<uint32_t>(a[4]);
    const Key* opened = key("ZwQueryValueKey", a[0]);
    char name[MaxName];
    if (opened == nullptr || !readName("ZwQueryValueKey", a[1], name, sizeof name) ||
        !output("ZwQueryValueKey", resultLength, 4)) {
        return 0;
    }
    if (informationClass != PartialInformation) {
        breach("ZwQueryValueKey asked for information class %u; this kernel serves the partial one (2)",
               informationClass);
        return 0;
    }
    uint32_t status = 0;
    if (injected("ZwQueryValueKey", &status)) {
        return status;
    }
    if ((opened->access & KeyQueryValue) == 0) {
        return StatusAccessDenied;
    }
    uint8_t data[MaxTransfer];
    uint32_t type = 0, size = sizeof data;
    if (!Sim::registryValue(opened->path, name, &type, data, &size)) {
        return StatusObjectNameNotFound;
    }
    const uint32_t header = state.layout.ValueData, needed = header + size;
    write32(resultLength, needed);
    if (length < header) {
        return StatusBufferTooSmall;
    }
    if (!output("ZwQueryValueKey", buffer, length < needed ? header : needed)) {
        return 0;
    }
    write32(buffer, 0); // TitleIndex
    write32(buffer + state.layout.ValueType, type);
    write32(buffer + state.layout.ValueDataLength, size);
    if (length < needed) {
        return StatusBufferOverflow;
    }
    Emulator::writeGuest(cpu(), buffer + header, data, size);
    return StatusSuccess;
}

uint64_t zwClose(const uint64_t* a)
{
    Key* opened = key("ZwClose", a[0]);
    if (opened == nullptr) {
        return 0;
    }
    opened->open = false;
    return StatusSuccess;
}

int deviceAt(uint64_t address)
{
    for (int i = 0; i < MaxDevices; ++i) {
        if (state.devices[i].used && state.devices[i].address == address) {
            return i;
        }
    }
    return -1;
}

// The driver object's list of devices, newest first, as the system keeps it.
void relinkDevices()
{
    uint64_t head = 0;
    for (const Device& device : state.devices) {
        if (device.used) {
            writePointer(device.address + state.layout.DeviceDriverObject + pointerSize(), head); // NextDevice
            head = device.address;
        }
    }
    writePointer(state.driverObject + state.layout.DriverDeviceObject, head);
}

uint64_t ioCreateDevice(const uint64_t* a)
{
    const uint64_t driver = a[0], nameString = a[2], deviceOut = a[6];
    const uint32_t extensionSize = static_cast<uint32_t>(a[1]);
    if (driver != state.driverObject) {
        breach("IoCreateDevice given 0x%llx, not its driver object", static_cast<unsigned long long>(driver));
        return 0;
    }
    char name[MaxName] = "";
    if ((nameString != 0 && !readName("IoCreateDevice", nameString, name, sizeof name)) ||
        !output("IoCreateDevice", deviceOut, pointerSize())) {
        return 0;
    }
    uint32_t status = 0;
    if (injected("IoCreateDevice", &status)) {
        return status;
    }
    for (const Device& device : state.devices) {
        if (device.used && name[0] != '\0' && strcasecmp(device.name, name) == 0) {
            return StatusObjectNameCollision;
        }
    }
    int slot = -1;
    for (int i = MaxDevices - 1; i >= 0; --i) {
        slot = state.devices[i].used ? slot : i;
    }
    const uint64_t object = slot >= 0 ? allocate(state.layout.DeviceObjectSize + extensionSize) : 0;
    if (object == 0) {
        return StatusInsufficientResources;
    }
    Device& device = state.devices[slot];
    device = Device{true, object, "", static_cast<uint8_t>(a[5]) != 0, 0, extensionSize};
    std::snprintf(device.name, sizeof device.name, "%s", name);
    device.extension = extensionSize != 0 ? object + state.layout.DeviceObjectSize : 0;
    write16(object, 3); // IO_TYPE_DEVICE
    write16(object + 2, static_cast<uint16_t>(state.layout.DeviceObjectSize));
    writePointer(object + state.layout.DeviceDriverObject, state.driverObject);
    write32(object + state.layout.DeviceFlags, DeviceInitializing);
    write32(object + state.layout.DeviceCharacteristics, static_cast<uint32_t>(a[4]));
    writePointer(object + state.layout.DeviceExtension, device.extension);
    write32(object + state.layout.DeviceType, static_cast<uint32_t>(a[3]));
    Emulator::writeGuest(cpu(), object + state.layout.DeviceStackSize, "\1", 1);
    relinkDevices();
    writePointer(deviceOut, object);
    return StatusSuccess;
}

uint64_t ioDeleteDevice(const uint64_t* a)
{
    const int slot = deviceAt(a[0]);
    if (a[0] == 0 || slot < 0) {
        breach("IoDeleteDevice given 0x%llx, which is no device of the driver's", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    state.devices[slot] = Device{};
    relinkDevices();
    return 0;
}

uint64_t ioCreateSymbolicLink(const uint64_t* a)
{
    char name[MaxName], target[MaxName];
    if (!readName("IoCreateSymbolicLink", a[0], name, sizeof name) ||
        !readName("IoCreateSymbolicLink", a[1], target, sizeof target)) {
        return 0;
    }
    uint32_t status = 0;
    if (injected("IoCreateSymbolicLink", &status)) {
        return status;
    }
    Link* free = nullptr;
    for (Link& link : state.links) {
        if (link.used && strcasecmp(link.name, name) == 0) {
            return StatusObjectNameCollision;
        }
        free = !link.used && free == nullptr ? &link : free;
    }
    if (free == nullptr) {
        return StatusInsufficientResources;
    }
    free->used = true;
    std::snprintf(free->name, sizeof free->name, "%s", name);
    std::snprintf(free->target, sizeof free->target, "%s", target);
    return StatusSuccess;
}

uint64_t ioDeleteSymbolicLink(const uint64_t* a)
{
    char name[MaxName];
    if (!readName("IoDeleteSymbolicLink", a[0], name, sizeof name)) {
        return 0;
    }
    for (Link& link : state.links) {
        if (link.used && strcasecmp(link.name, name) == 0) {
            link = Link{};
            return StatusSuccess;
        }
    }
    return StatusObjectNameNotFound;
}

uint64_t iofCompleteRequest(const uint64_t* a)
{
    Request& request = state.request;
    if (state.phase != Phase::Dispatch || a[0] != irpArea()) {
        breach("IofCompleteRequest given 0x%llx, not the request it is serving", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    if (request.completed) {
        breach("completed twice, the second time returning to %s", where(Emulator::callerAddress(cpu())));
        return 0;
    }
    if (state.lockCount > 0) {
        breach("completed while holding the spin lock at 0x%llx",
               static_cast<unsigned long long>(state.locks[state.lockCount - 1].address));
        return 0;
    }
    const uint64_t irp = irpArea();
    const uint32_t status = read32(irp + state.layout.IrpStatus);
    const uint64_t information = readPointer(irp + state.layout.IrpInformation);
    if (status == StatusPending) {
        breach("completed with STATUS_PENDING");
        return 0;
    }
    if (request.major == MajorDeviceControl && information > request.outLength) {
        breach("completed with Information %llu, beyond the output length %u",
               static_cast<unsigned long long>(information), request.outLength);
        return 0;
    }
    request.completed = true;
    request.status = status;
    request.information = information;
    return 0;
}

uint64_t acquireSpinLock(const uint64_t* a)
{
    const uint64_t lock = a[0];
    if (!output("the spin lock's acquisition", lock, pointerSize())) {
        return 0;
    }
    for (int i = 0; i < state.lockCount; ++i) {
        if (state.locks[i].address == lock) {
            breach("acquires the spin lock at 0x%llx, which it holds already", static_cast<unsigned long long>(lock));
            return 0;
        }
    }
    if (state.lockCount == MaxLocks) {
        breach("holds more than %d spin locks", MaxLocks);
        return 0;
    }
    const uint8_t old = state.irql;
    state.locks[state.lockCount++] = HeldLock{lock, old};
    state.irql = DispatchLevel;
    writePointer(lock, 1);
    return old;
}

uint64_t releaseSpinLock(const uint64_t* a)
{
    const uint64_t lock = a[0];
    const uint8_t irql = static_cast<uint8_t>(a[1]);
    if (state.lockCount == 0 || state.locks[state.lockCount - 1].address != lock) {
        breach("releases the spin lock at 0x%llx, which it does not hold last", static_cast<unsigned long long>(lock));
        return 0;
    }
    if (irql != state.locks[state.lockCount - 1].irql) {
        breach("releases the spin lock at 0x%llx to IRQL %u, not to the %u it was taken at",
               static_cast<unsigned long long>(lock), irql, state.locks[state.lockCount - 1].irql);
        return 0;
    }
    --state.lockCount;
    state.irql = irql;
    writePointer(lock, 0);
    return 0;
}

uint64_t queryPerformanceCounter(const uint64_t* a)
{
    if (a[0] != 0) {
        if (!output("KeQueryPerformanceCounter", a[0], 8)) {
            return 0;
        }
        write32(a[0], static_cast<uint32_t>(TicksPerSecond));
        write32(a[0] + 4, 0);
    }
    return state.clock;
}

// Every port access of the driver's, from the HAL's functions or its own
// instructions.
// by: "the instruction at ..." or "the call returning to ...".
uint8_t portAccess(bool write, uint64_t port, int size, uint8_t value, const char* by)
{
    const char* what = write ? "written" : "read";
    if (state.phase != Phase::Dispatch || state.request.major != MajorDeviceControl || state.request.completed) {
        breach("port 0x%llx %s outside a device-control request, by %s", static_cast<unsigned long long>(port), what,
               by);
        return 0xFF;
    }
    if (size != 1) {
        breach("port 0x%llx %s %d bytes wide by %s; the board's ports are one byte each",
               static_cast<unsigned long long>(port), what, size, by);
        return 0xFF;
    }
    if (port < state.portBase || port >= static_cast<uint64_t>(state.portBase) + state.portCount) {
        breach("port 0x%llx %s by %s, outside the registered ports 0x%x to 0x%x", static_cast<unsigned long long>(port),
               what, by, state.portBase, state.portBase + state.portCount - 1);
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

uint64_t readPortUchar(const uint64_t* a)
{
    if (a[0] >= IoSpaceSize) {
        breach("READ_PORT_UCHAR given 0x%llx, outside the I/O space", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    return portAccess(false, a[0], 1, 0, callText());
}

uint64_t writePortUchar(const uint64_t* a)
{
    if (a[0] >= IoSpaceSize) {
        breach("WRITE_PORT_UCHAR given 0x%llx, outside the I/O space", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    portAccess(true, a[0], 1, static_cast<uint8_t>(a[1]), callText());
    return 0;
}

// What this kernel has, as the drivers of each width import it.
constexpr Function Functions[] = {
    {"ntoskrnl.exe", "DbgPrint", Convention::Cdecl, 1, dbgPrint, 0, false},
    {"ntoskrnl.exe", "IoCreateDevice", Convention::Stdcall, 7, ioCreateDevice, 0, false},
    {"ntoskrnl.exe", "IoCreateSymbolicLink", Convention::Stdcall, 2, ioCreateSymbolicLink, 0, false},
    {"ntoskrnl.exe", "IoDeleteDevice", Convention::Stdcall, 1, ioDeleteDevice, 0, false},
    {"ntoskrnl.exe", "IoDeleteSymbolicLink", Convention::Stdcall, 1, ioDeleteSymbolicLink, 0, false},
    {"ntoskrnl.exe", "IofCompleteRequest", Convention::Fastcall, 2, iofCompleteRequest, 0, false},
    {"ntoskrnl.exe", "RtlInitUnicodeString", Convention::Stdcall, 2, rtlInitUnicodeString, 0, false},
    {"ntoskrnl.exe", "ZwOpenKey", Convention::Stdcall, 3, zwOpenKey, 0, false},
    {"ntoskrnl.exe", "ZwQueryValueKey", Convention::Stdcall, 6, zwQueryValueKey, 0, false},
    {"ntoskrnl.exe", "ZwClose", Convention::Stdcall, 1, zwClose, 0, false},
    {"hal.dll", "KeQueryPerformanceCounter", Convention::Stdcall, 1, queryPerformanceCounter, 0, true},
    {"hal.dll", "KfAcquireSpinLock", Convention::Fastcall, 1, acquireSpinLock, 32, false},
    {"hal.dll", "KfReleaseSpinLock", Convention::Fastcall, 2, releaseSpinLock, 32, false},
    {"hal.dll", "READ_PORT_UCHAR", Convention::Stdcall, 1, readPortUchar, 32, false},
    {"hal.dll", "WRITE_PORT_UCHAR", Convention::Stdcall, 2, writePortUchar, 32, false},
    {"ntoskrnl.exe", "KeAcquireSpinLockRaiseToDpc", Convention::Stdcall, 1, acquireSpinLock, 64, false},
    {"ntoskrnl.exe", "KeReleaseSpinLock", Convention::Stdcall, 2, releaseSpinLock, 64, false},
};
constexpr int FunctionCount = sizeof Functions / sizeof Functions[0];
static_assert(FunctionCount * Emulator::StubStride < 0xE00, "the stubs fit their page");
constexpr int MaxArguments = 8;

uint64_t slots[FunctionCount];

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
            slots[k] = import.slot;
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
    char parameters[96];
    std::snprintf(parameters, sizeof parameters, "%s\\Parameters", ServicePath);
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
    for (uint64_t& slot : slots) {
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
        if (std::strcmp(Functions[k].name, function) == 0 && slots[k] != 0) {
            return slots[k];
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

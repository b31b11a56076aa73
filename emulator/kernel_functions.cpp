// The kernel's functions a driver may import, as each width's drivers
// import them, and the ports that they and the driver's own instructions
// reach (see kernel.h).
#include "emulator/kernel_internal.h"

#include "platform/sim/control.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Kernel {
namespace {

using Emulator::Convention;

constexpr uint32_t KeyQueryValue = 0x0001;
constexpr uint32_t PartialInformation = 2;
constexpr uint32_t IoSpaceSize = 0x10000;

// ---- Helpers over the guest -----------------------------------------------

bool inStack(uint64_t address, uint64_t size)
{
    const uint64_t begin = state.base + StackOffset;
    return address >= begin && address + size <= begin + StackSize;
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

// The I/O error log. An entry is the driver's from IoAllocateErrorLogEntry
// to IoWriteErrorLogEntry, which hands it to the system for good: written
// once, and never one the kernel did not give. Its size is the system's
// limit at most, and its dump data and strings lie inside it.
uint64_t ioAllocateErrorLogEntry(const uint64_t* a)
{
    const uint64_t object = a[0];
    const uint32_t size = static_cast<uint8_t>(a[1]);
    if (object == 0 || (object != state.driverObject && deviceAt(object) < 0)) {
        breach("IoAllocateErrorLogEntry given 0x%llx, neither its driver object nor one of its devices",
               static_cast<unsigned long long>(object));
        return 0;
    }
    if (size < state.layout.ErrorDumpData || size > state.layout.ErrorLogMaximumSize) {
        breach("IoAllocateErrorLogEntry asked for %u bytes, outside the %u to %u of an entry", size,
               state.layout.ErrorDumpData, state.layout.ErrorLogMaximumSize);
        return 0;
    }
    uint32_t status = 0;
    if (injected("IoAllocateErrorLogEntry", &status)) {
        return 0;
    }
    for (LogEntry& entry : state.logEntries) {
        if (entry.address == 0) {
            entry = LogEntry{allocate(size), size, false};
            return entry.address;
        }
    }
    return 0;
}

uint64_t ioWriteErrorLogEntry(const uint64_t* a)
{
    LogEntry* entry = nullptr;
    for (LogEntry& given : state.logEntries) {
        entry = given.address != 0 && given.address == a[0] ? &given : entry;
    }
    if (entry == nullptr) {
        breach("IoWriteErrorLogEntry given 0x%llx, no entry IoAllocateErrorLogEntry gave it",
               static_cast<unsigned long long>(a[0]));
        return 0;
    }
    if (entry->written) {
        breach("IoWriteErrorLogEntry given the entry at 0x%llx a second time", static_cast<unsigned long long>(a[0]));
        return 0;
    }
    const Layout& l = state.layout;
    const uint32_t dumpSize = read16(entry->address + l.ErrorDumpDataSize);
    if (l.ErrorDumpData + dumpSize > entry->size) {
        breach("the error log entry of %u bytes holds %u bytes of dump data, past its end", entry->size, dumpSize);
        return 0;
    }
    // Each string ends in a null character, the last of them inside the entry.
    uint32_t at = read16(entry->address + l.ErrorStringOffset);
    for (uint32_t strings = read16(entry->address + l.ErrorNumberOfStrings); strings > 0; --strings) {
        while (at + 2 <= entry->size && read16(entry->address + at) != 0) {
            at += 2;
        }
        if (at + 2 > entry->size) {
            breach("the error log entry of %u bytes has strings that run past its end", entry->size);
            return 0;
        }
        at += 2;
    }
    entry->written = true;
    ErrorLogEntry& logged = state.errorLog[state.errorLogCount++];
    logged.errorCode = read32(entry->address + l.ErrorCode);
    logged.uniqueValue = read32(entry->address + l.ErrorUniqueValue);
    logged.finalStatus = read32(entry->address + l.ErrorFinalStatus);
    logged.dumpWords = dumpSize / 4;
    for (uint32_t i = 0; i < logged.dumpWords && i < MaxDumpWords; ++i) {
        logged.dump[i] = read32(entry->address + l.ErrorDumpData + 4 * i);
    }
    return 0;
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

} // namespace

bool inRange(uint64_t address, uint64_t size, uint64_t begin, uint64_t length)
{
    return address >= begin && address + size <= begin + length;
}

// What the driver may write: its own data and stack; the driver object while
// DriverEntry fills it in; its devices' flags and extensions; the error log
// entries it has not written yet; and, while it serves a request, the
// request's status block and system buffer.
bool driverMayWrite(uint64_t address, uint64_t size)
{
    if (Emulator::inside(state.image.writable, state.image.writableCount, address, size) || inStack(address, size)) {
        return true;
    }
    if (state.phase == Phase::Entry && inRange(address, size, state.driverObject, state.layout.DriverObjectSize)) {
        return true;
    }
    for (const LogEntry& entry : state.logEntries) {
        if (entry.address != 0 && !entry.written && inRange(address, size, entry.address, entry.size)) {
            return true;
        }
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

const char* instructionText()
{
    return where(Emulator::instructionPointer(cpu()));
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

// What this kernel has, as the drivers of each width import it.
const Function Functions[] = {
    {"ntoskrnl.exe", "DbgPrint", Convention::Cdecl, 1, dbgPrint, 0, false},
    {"ntoskrnl.exe", "IoCreateDevice", Convention::Stdcall, 7, ioCreateDevice, 0, false},
    {"ntoskrnl.exe", "IoCreateSymbolicLink", Convention::Stdcall, 2, ioCreateSymbolicLink, 0, false},
    {"ntoskrnl.exe", "IoDeleteDevice", Convention::Stdcall, 1, ioDeleteDevice, 0, false},
    {"ntoskrnl.exe", "IoDeleteSymbolicLink", Convention::Stdcall, 1, ioDeleteSymbolicLink, 0, false},
    {"ntoskrnl.exe", "IoAllocateErrorLogEntry", Convention::Stdcall, 2, ioAllocateErrorLogEntry, 0, false},
    {"ntoskrnl.exe", "IoWriteErrorLogEntry", Convention::Stdcall, 1, ioWriteErrorLogEntry, 0, false},
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
static_assert(sizeof Functions / sizeof Functions[0] == FunctionCount, "the table holds every function");
uint64_t functionSlots[FunctionCount];

} // namespace Kernel

// The I/O manager's objects a driver makes: its devices, their links, and
// the entries it writes to the system's error log.
#include "emulator/kernel_internal.h"

#include <cstdio>
#include <strings.h>

namespace Kernel {
namespace {

constexpr uint16_t IoTypeDevice = 3;

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

struct CreateDeviceArguments {
    uint64_t driver, extensionSize, name, type, characteristics, exclusive, deviceOut;
};

uint64_t ioCreateDevice(const CreateDeviceArguments& a)
{
    const Layout& l = state.layout;
    const uint32_t extensionSize = static_cast<uint32_t>(a.extensionSize);
    if (a.driver != state.driverObject) {
        breach(Rule::SystemArgument, "IoCreateDevice given 0x%llx, not its driver object",
               static_cast<unsigned long long>(a.driver));
        return 0;
    }
    char name[MaxName] = "";
    if ((a.name != 0 && !readName(a.name, name, sizeof name)) || !output(a.deviceOut, pointerSize())) {
        return 0;
    }
    uint32_t status = 0;
    if (injected(&status)) {
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
    const uint64_t object = slot >= 0 ? allocate(l.DeviceObjectSize + extensionSize) : 0;
    if (object == 0) {
        return StatusInsufficientResources;
    }
    Device& device = state.devices[slot];
    device = Device{true, object, "", static_cast<uint8_t>(a.exclusive) != 0, 0, extensionSize};
    std::snprintf(device.name, sizeof device.name, "%s", name);
    device.extension = extensionSize != 0 ? object + l.DeviceObjectSize : 0;
    writeHeader(object, IoTypeDevice, l.DeviceObjectSize);
    writePointer(object + l.DeviceDriverObject, state.driverObject);
    write32(object + l.DeviceFlags, DeviceInitializing);
    write32(object + l.DeviceCharacteristics, static_cast<uint32_t>(a.characteristics));
    writePointer(object + l.DeviceExtension, device.extension);
    write32(object + l.DeviceType, static_cast<uint32_t>(a.type));
    write8(object + l.DeviceStackSize, 1);
    relinkDevices();
    writePointer(a.deviceOut, object);
    return StatusSuccess;
}

struct DeleteDeviceArguments {
    uint64_t device;
};

uint64_t ioDeleteDevice(const DeleteDeviceArguments& a)
{
    const int slot = deviceAt(a.device);
    if (a.device == 0 || slot < 0) {
        breach(Rule::SystemArgument, "IoDeleteDevice given 0x%llx, which is no device of the driver's",
               static_cast<unsigned long long>(a.device));
        return 0;
    }
    state.devices[slot] = Device{};
    relinkDevices();
    return 0;
}

struct CreateLinkArguments {
    uint64_t name, target;
};

uint64_t ioCreateSymbolicLink(const CreateLinkArguments& a)
{
    char name[MaxName], target[MaxName];
    if (!readName(a.name, name, sizeof name) || !readName(a.target, target, sizeof target)) {
        return 0;
    }
    uint32_t status = 0;
    if (injected(&status)) {
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

struct DeleteLinkArguments {
    uint64_t name;
};

uint64_t ioDeleteSymbolicLink(const DeleteLinkArguments& a)
{
    char name[MaxName];
    if (!readName(a.name, name, sizeof name)) {
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
struct AllocateEntryArguments {
    uint64_t object, size;
};

uint64_t ioAllocateErrorLogEntry(const AllocateEntryArguments& a)
{
    const uint32_t size = static_cast<uint8_t>(a.size);
    if (a.object == 0 || (a.object != state.driverObject && deviceAt(a.object) < 0)) {
        breach(Rule::ErrorLogObject, "IoAllocateErrorLogEntry given 0x%llx, neither its driver object nor one of its devices",
               static_cast<unsigned long long>(a.object));
        return 0;
    }
    if (size < state.layout.ErrorDumpData || size > state.layout.ErrorLogMaximumSize) {
        breach(Rule::ErrorLogSize, "IoAllocateErrorLogEntry asked for %u bytes, outside the %u to %u of an entry", size,
               state.layout.ErrorDumpData, state.layout.ErrorLogMaximumSize);
        return 0;
    }
    uint32_t status = 0;
    if (injected(&status)) {
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

struct WriteEntryArguments {
    uint64_t entry;
};

uint64_t ioWriteErrorLogEntry(const WriteEntryArguments& a)
{
    LogEntry* entry = nullptr;
    for (LogEntry& given : state.logEntries) {
        entry = given.address != 0 && given.address == a.entry ? &given : entry;
    }
    if (entry == nullptr) {
        breach(Rule::ErrorLogWrittenOnce, "IoWriteErrorLogEntry given 0x%llx, no entry IoAllocateErrorLogEntry gave it",
               static_cast<unsigned long long>(a.entry));
        return 0;
    }
    if (entry->written) {
        breach(Rule::ErrorLogWrittenOnce, "IoWriteErrorLogEntry given the entry at 0x%llx a second time",
               static_cast<unsigned long long>(a.entry));
        return 0;
    }
    const Layout& l = state.layout;
    const uint32_t dumpSize = read16(entry->address + l.ErrorDumpDataSize);
    if (l.ErrorDumpData + dumpSize > entry->size) {
        breach(Rule::ErrorLogContents, "the error log entry of %u bytes holds %u bytes of dump data, past its end",
               entry->size, dumpSize);
        return 0;
    }
    // Each string ends in a null character, the last of them inside the entry.
    uint32_t at = read16(entry->address + l.ErrorStringOffset);
    for (uint32_t strings = read16(entry->address + l.ErrorNumberOfStrings); strings > 0; --strings) {
        while (at + 2 <= entry->size && read16(entry->address + at) != 0) {
            at += 2;
        }
        if (at + 2 > entry->size) {
            breach(Rule::ErrorLogContents, "the error log entry of %u bytes has strings that run past its end",
                   entry->size);
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

constexpr Emulator::SystemFunction Rows[] = {
    Emulator::function<CreateDeviceArguments, ioCreateDevice>(Ntoskrnl, "IoCreateDevice"),
    Emulator::function<DeleteDeviceArguments, ioDeleteDevice>(Ntoskrnl, "IoDeleteDevice"),
    Emulator::function<CreateLinkArguments, ioCreateSymbolicLink>(Ntoskrnl, "IoCreateSymbolicLink"),
    Emulator::function<DeleteLinkArguments, ioDeleteSymbolicLink>(Ntoskrnl, "IoDeleteSymbolicLink"),
    Emulator::function<AllocateEntryArguments, ioAllocateErrorLogEntry>(Ntoskrnl, "IoAllocateErrorLogEntry"),
    Emulator::function<WriteEntryArguments, ioWriteErrorLogEntry>(Ntoskrnl, "IoWriteErrorLogEntry"),
};

} // namespace

const Emulator::FunctionTable IoObjectFunctions = Emulator::tableOf(Rows);

int deviceAt(uint64_t address)
{
    for (int i = 0; i < MaxDevices; ++i) {
        if (state.devices[i].used && state.devices[i].address == address) {
            return i;
        }
    }
    return -1;
}

} // namespace Kernel

// The watch over the driver: what it may write, the request it must leave
// alone once completed, its port instructions, and how a breach names where
// the driver was (the hooks every guest has are system.cpp's).
#include "emulator/kernel_internal.h"

#include <cstdarg>
#include <cstdio>

namespace Kernel {
namespace {

bool requestDone() { return state.phase != Phase::Dispatch || state.request.completed; }

// The write hook's view: the request's memory after its completion is a
// rule of its own; anything else the driver may not write is a stray write.
bool writeAllowed(uint64_t address, uint64_t size)
{
    if (driverMayWrite(address, size)) {
        return true;
    }
    if (inRange(address, 1, irpArea(), IrpAreaSize) && requestDone()) {
        breach(Rule::RequestAfterCompletion, "the request's memory written at 0x%llx after its completion, by %s",
               static_cast<unsigned long long>(address), Emulator::instructionText(state.system));
    }
    return false;
}

void onRequestRead(uc_engine*, uc_mem_type, uint64_t address, int, int64_t, void*)
{
    if (requestDone()) {
        breach(Rule::RequestAfterCompletion, "the request's memory read at 0x%llx after its completion, by %s",
               static_cast<unsigned long long>(address), Emulator::instructionText(state.system));
    }
}

void onCode(uc_engine*, uint64_t, uint32_t, void*) { ++state.instructions; }

uint32_t onIn(uc_engine*, uint32_t port, int size, void*)
{
    return portAccess(false, port, size, 0, Emulator::instructionText(state.system));
}

void onOut(uc_engine*, uint32_t port, int size, uint32_t value, void*)
{
    portAccess(true, port, size, static_cast<uint8_t>(value), Emulator::instructionText(state.system));
}

bool inStack(uint64_t address, uint64_t size) { return inRange(address, size, state.base + StackOffset, StackSize); }

} // namespace

bool watchDriver()
{
    state.system.mayWrite = writeAllowed;
    uc_engine* uc = cpu().uc;
    uc_hook hook;
    const Emulator::Range code = state.image.code[0];
    return Emulator::watch(state.system) &&
           uc_hook_add(uc, &hook, UC_HOOK_MEM_READ, reinterpret_cast<void*>(onRequestRead), nullptr, irpArea(),
                       irpArea() + IrpAreaSize - 1) == UC_ERR_OK &&
           // The code hook also keeps the program counter current for the
           // port instructions' hooks.
           uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), nullptr, code.begin,
                       code.end - 1) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(onIn), nullptr, 1, 0, UC_X86_INS_IN) ==
               UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(onOut), nullptr, 1, 0, UC_X86_INS_OUT) ==
               UC_ERR_OK;
}

// What the driver may write: its own data and stack; the driver object while
// DriverEntry fills it in; its devices' flags and extensions; the error log
// entries it has not written yet; and, while it serves a request, the
// request's status block and system buffer, and during a create the file
// object's two fields of the driver's own (FsContext, FsContext2).
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
    if (!requestDone()) {
        const uint64_t statusBlock = irpArea() + state.layout.IrpStatus;
        const uint64_t statusSize = state.layout.IrpInformation + pointerSize() - state.layout.IrpStatus;
        const uint64_t context = state.request.fileObject + state.layout.FileFsContext;
        const uint64_t contextSize = state.layout.FileFsContext2 + pointerSize() - state.layout.FileFsContext;
        return inRange(address, size, statusBlock, statusSize) ||
               inRange(address, size, state.request.systemBuffer, state.request.systemBufferLength) ||
               (state.request.major == MajorCreate && inRange(address, size, context, contextSize));
    }
    return false;
}

bool output(uint64_t address, uint64_t size)
{
    if (address == 0 || !driverMayWrite(address, size)) {
        breach(Rule::SystemArgument, "%s given 0x%llx to write %llu bytes to, where the driver may not write", called(),
               static_cast<unsigned long long>(address), static_cast<unsigned long long>(size));
        return false;
    }
    return true;
}

const char* context()
{
    struct MajorName {
        int major;
        const char* name;
    };
    static constexpr MajorName majors[] = {
        {MajorCreate, "IRP_MJ_CREATE"},   {MajorClose, "IRP_MJ_CLOSE"},
        {MajorRead, "IRP_MJ_READ"},       {MajorWrite, "IRP_MJ_WRITE"},
        {MajorQueryInformation, "IRP_MJ_QUERY_INFORMATION"}, {MajorSetInformation, "IRP_MJ_SET_INFORMATION"},
        {MajorFlushBuffers, "IRP_MJ_FLUSH_BUFFERS"}, {MajorDeviceControl, "IRP_MJ_DEVICE_CONTROL"},
        {MajorCleanup, "IRP_MJ_CLEANUP"},
    };
    static char text[96];
    switch (state.phase) {
    case Phase::Entry: return "DriverEntry";
    case Phase::Unload: return "DriverUnload";
    case Phase::Dispatch: {
        const int major = state.request.major;
        const char* name = "another major function";
        for (const MajorName& row : majors) {
            name = row.major == major ? row.name : name;
        }
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

const char* where(uint64_t address) { return Emulator::where(state.system, address); }

void breach(Rule rule, const char* format, ...)
{
    va_list list;
    va_start(list, format);
    Emulator::breachV(cpu(), rule, format, list);
    va_end(list);
}

bool breached() { return Emulator::breached(cpu()); }

const char* called() { return state.system.current != nullptr ? state.system.current->name : "the kernel"; }

} // namespace Kernel

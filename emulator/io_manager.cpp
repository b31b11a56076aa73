// The I/O manager's requests, as Windows makes them: an opening resolves
// through the driver's link and sends IRP_MJ_CREATE with a file object of
// its own, the name below the device and the security context; a request
// sends IRP_MJ_DEVICE_CONTROL with its buffers placed as the control code's
// transfer method says; a major the driver does not serve is answered by the
// I/O manager itself; a close sends IRP_MJ_CLEANUP and IRP_MJ_CLOSE. The
// driver completes each with IofCompleteRequest, held to the rules of
// completion (see kernel.h).
#include "emulator/kernel_internal.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Kernel {
namespace {

constexpr uint32_t FirstHandle = 0x100;
constexpr uint64_t SystemBufferOffset = 0x1000;
constexpr uint64_t MdlOffset = 0x2000;
constexpr uint64_t SecurityOffset = 0x2800; // the create's security context, its access state 0x100 further
constexpr uint64_t UserOutput = UserPage + 0x800;
constexpr uint32_t MethodBuffered = 0, MethodNeither = 3;
constexpr uint32_t FileReadAccess = 1, FileWriteAccess = 2; // a control code's access bits
constexpr uint8_t UserMode = 1;
constexpr uint16_t IoTypeIrp = 6, IoTypeFile = 5;
constexpr uint32_t FoSynchronousIo = 0x2;
constexpr uint32_t FileOpen = 1, FileSynchronousIoNonalert = 0x20; // CreateFileA's OPEN_EXISTING, no overlapped
constexpr char DosDevices[] = "\\DosDevices\\";
constexpr char DosDevicesShort[] = "\\??\\";

// The file's own rights, and the generic ones as the I/O manager maps them
// for a file or device (FILE_GENERIC_READ, _WRITE, _EXECUTE, FILE_ALL_ACCESS).
constexpr uint32_t FileReadData = 0x1, FileWriteData = 0x2, FileAppendData = 0x4, FileReadAttributes = 0x80,
                   FileWriteAttributes = 0x100;
struct GenericMapping {
    uint32_t generic, specific;
};
constexpr GenericMapping FileMapping[] = {
    {0x80000000u, 0x00120089}, {0x40000000u, 0x00120116}, {0x20000000u, 0x001200A0}, {0x10000000u, 0x001F01FF}};

uint32_t mapGeneric(uint32_t access)
{
    uint32_t mapped = access & 0x0FFFFFFFu;
    for (const GenericMapping& mapping : FileMapping) {
        mapped |= (access & mapping.generic) != 0 ? mapping.specific : 0;
    }
    return mapped;
}

// What a handle must have been granted for a request of another major (any
// one bit of it), as the system service that sends it checks.
struct MajorAccess {
    int major;
    uint32_t needed;
};
constexpr MajorAccess MajorAccesses[] = {
    {MajorRead, FileReadData},
    {MajorWrite, FileWriteData | FileAppendData},
    {MajorQueryInformation, FileReadAttributes},
    {MajorSetInformation, FileWriteAttributes},
    {MajorFlushBuffers, FileWriteData | FileAppendData},
};

// A name in the DOS devices' folder, without the folder; null for any other.
const char* dosName(const char* name)
{
    if (strncasecmp(name, DosDevices, sizeof DosDevices - 1) == 0) {
        return name + sizeof DosDevices - 1;
    }
    if (std::strncmp(name, DosDevicesShort, sizeof DosDevicesShort - 1) == 0) {
        return name + sizeof DosDevicesShort - 1;
    }
    return nullptr;
}

// The device a program's name reaches: "\\.\NAME" through the link
// \DosDevices\NAME, and *rest what follows NAME ("" or from a backslash on:
// the name below the device, which the object manager hands the device's
// driver to parse); -1 when none.
int resolve(const char* name, const char** rest)
{
    if (name == nullptr || std::strncmp(name, "\\\\.\\", 4) != 0) {
        return -1;
    }
    for (const Link& link : state.links) {
        const char* linked = link.used ? dosName(link.name) : nullptr;
        const size_t length = linked != nullptr ? std::strlen(linked) : 0;
        if (linked != nullptr && strncasecmp(linked, name + 4, length) == 0 &&
            (name[4 + length] == '\0' || name[4 + length] == '\\')) {
            for (int i = 0; i < MaxDevices; ++i) {
                if (state.devices[i].used && strcasecmp(state.devices[i].name, link.target) == 0) {
                    *rest = name + 4 + length;
                    return i;
                }
            }
        }
    }
    return -1;
}

File* file(uint32_t handle)
{
    const uint32_t slot = (handle - FirstHandle) / 4;
    if (handle < FirstHandle || (handle - FirstHandle) % 4 != 0 || slot >= MaxFiles || !state.files[slot].open) {
        return nullptr;
    }
    return &state.files[slot];
}

// What a request carries beside its major: a device-control request's code,
// lengths and buffers; a create's security context, options and share access.
struct Transfer {
    uint32_t code = 0, inLength = 0, outLength = 0;
    uint64_t systemBuffer = 0;
    uint32_t systemBufferLength = 0;
    uint64_t mdl = 0, type3Input = 0, userBuffer = 0;
    uint64_t securityContext = 0;
    uint32_t options = 0, share = 0;
};

// Sends one request to the driver: the IRP with one stack location right
// after it, as the I/O manager builds it for a driver of one device.
uint32_t dispatch(int major, const File& opened, const Transfer& transfer)
{
    const uint64_t routine = dispatchRoutine(major);
    if (routine == 0) {
        return StatusInvalidDeviceRequest; // the system's own routine for what a driver does not serve
    }
    if (breached()) {
        return StatusDriverBroke;
    }
    const Layout& l = state.layout;
    const uint64_t irp = irpArea(), stack = irp + l.IrpSize;
    clear(irp, l.IrpSize + l.StackLocationSize);
    state.request = Request{++state.requestCount, major,  transfer.code, transfer.outLength, false, 0, 0,
                            transfer.systemBuffer,  transfer.systemBufferLength, opened.object};
    writeHeader(irp, IoTypeIrp, l.IrpSize + l.StackLocationSize);
    writePointer(irp + l.IrpMdlAddress, transfer.mdl);
    writePointer(irp + l.IrpSystemBuffer, transfer.systemBuffer);
    write8(irp + l.IrpRequestorMode, UserMode);
    write8(irp + l.IrpStackCount, 1);
    write8(irp + l.IrpCurrentLocation, 1);
    writePointer(irp + l.IrpUserBuffer, transfer.userBuffer);
    writePointer(irp + l.IrpCurrentStackLocation, stack);
    write8(stack + l.StackMajorFunction, static_cast<uint8_t>(major));
    if (major == MajorDeviceControl) {
        write32(stack + l.StackOutputLength, transfer.outLength);
        write32(stack + l.StackInputLength, transfer.inLength);
        write32(stack + l.StackControlCode, transfer.code);
        writePointer(stack + l.StackType3Input, transfer.type3Input);
    } else if (major == MajorCreate) {
        writePointer(stack + l.StackSecurityContext, transfer.securityContext);
        write32(stack + l.StackCreateOptions, transfer.options);
        write16(stack + l.StackShareAccess, static_cast<uint16_t>(transfer.share));
    }
    const uint64_t device = state.devices[opened.device].address;
    writePointer(stack + l.StackDeviceObject, device);
    writePointer(stack + l.StackFileObject, opened.object);

    const uint64_t arguments[2] = {device, irp};
    uint64_t result = 0;
    if (runDriver(Phase::Dispatch, routine, arguments, 2, "the dispatch routine", &result)) {
        const uint32_t returned = static_cast<uint32_t>(result);
        if (!state.request.completed) {
            breach(Rule::CompletedOnce, "the dispatch routine returned 0x%08x without completing the request", returned);
        } else if (returned != state.request.status) {
            breach(Rule::ReturnedStatus, "the dispatch routine returned 0x%08x but completed the request with 0x%08x",
                   returned, state.request.status);
        }
    }
    state.phase = Phase::Idle;
    return breached() ? StatusDriverBroke : state.request.status;
}

// The Win32 errors of the statuses this kernel gives, as the system maps them.
constexpr uint32_t ErrorPathNotFound = 3, ErrorGenFailure = 31, ErrorInvalidName = 123, ErrorMoreData = 234,
                   ErrorNoAccess = 998, ErrorNoSystemResources = 1450;

uint32_t errorOf(uint32_t status)
{
    struct Mapping {
        uint32_t status, error;
    };
    constexpr Mapping Mappings[] = {
        {StatusInvalidDeviceRequest, ERROR_INVALID_FUNCTION}, {StatusInvalidParameter, ERROR_INVALID_PARAMETER},
        {StatusObjectNameNotFound, ERROR_FILE_NOT_FOUND},     {StatusAccessDenied, ERROR_ACCESS_DENIED},
        {StatusInvalidHandle, ERROR_INVALID_HANDLE},          {StatusAccessViolation, ErrorNoAccess},
        {StatusInsufficientResources, ErrorNoSystemResources}, {StatusBufferOverflow, ErrorMoreData},
        {StatusObjectPathNotFound, ErrorPathNotFound},         {StatusObjectNameInvalid, ErrorInvalidName},
    };
    for (const Mapping& mapping : Mappings) {
        if (mapping.status == status) {
            return mapping.error;
        }
    }
    return ErrorGenFailure;
}

struct CompleteRequestArguments {
    uint64_t irp, priorityBoost;
};

uint64_t iofCompleteRequest(const CompleteRequestArguments& a)
{
    Request& request = state.request;
    const uint64_t irp = irpArea();
    if (state.phase != Phase::Dispatch || a.irp != irp) {
        breach(Rule::SystemArgument, "IofCompleteRequest given 0x%llx, not the request it is serving",
               static_cast<unsigned long long>(a.irp));
        return 0;
    }
    if (request.completed) {
        breach(Rule::CompletedOnce, "completed twice, the second time returning to %s", where(state.system.caller));
        return 0;
    }
    if (state.lockCount > 0) {
        breach(Rule::CompletedUnderLock, "completed while holding the spin lock at 0x%llx",
               static_cast<unsigned long long>(state.locks[state.lockCount - 1].address));
        return 0;
    }
    const uint32_t status = read32(irp + state.layout.IrpStatus);
    const uint64_t information = readPointer(irp + state.layout.IrpInformation);
    if (status == StatusPending) {
        breach(Rule::CompletedPending, "completed with STATUS_PENDING");
        return 0;
    }
    if (request.major == MajorDeviceControl && information > request.outLength) {
        breach(Rule::InformationWithinOutput, "completed with Information %llu, beyond the output length %u",
               static_cast<unsigned long long>(information), request.outLength);
        return 0;
    }
    request.completed = true;
    request.status = status;
    request.information = information;
    return 0;
}

constexpr Emulator::SystemFunction Rows[] = {
    Emulator::function<CompleteRequestArguments, iofCompleteRequest>(Ntoskrnl, "IofCompleteRequest",
                                                                    Emulator::Convention::Fastcall),
};

} // namespace

const Emulator::FunctionTable IoRequestFunctions = Emulator::tableOf(Rows);

namespace {

// The file object of an opening, as the I/O manager makes it before the
// create: the device, synchronous I/O (no overlapped opening), and the name
// below the device, its text where the driver may read it.
void makeFileObject(const File& opened, int slot, const char* rest)
{
    const Layout& l = state.layout;
    clear(opened.object, l.FileObjectSize);
    writeHeader(opened.object, IoTypeFile, l.FileObjectSize);
    writePointer(opened.object + l.FileDeviceObject, state.devices[opened.device].address);
    write32(opened.object + l.FileFlags, FoSynchronousIo);
    const uint64_t text = state.fileNames + static_cast<uint64_t>(slot) * MaxFileName * 2;
    const size_t length = std::strlen(rest);
    for (size_t i = 0; i < length; ++i) {
        write16(text + 2 * i, static_cast<uint8_t>(rest[i]));
    }
    write16(opened.object + l.FileName + l.StringLength, static_cast<uint16_t>(2 * length));
    write16(opened.object + l.FileName + l.StringMaximumLength, static_cast<uint16_t>(2 * length));
    writePointer(opened.object + l.FileName + l.StringBuffer, length != 0 ? text : 0);
}

// The create's security context: the access asked for, and the access state
// of the system's check of the device's security, which granted the same.
uint64_t securityContext(uint32_t access)
{
    const Layout& l = state.layout;
    const uint64_t context = irpArea() + SecurityOffset, accessState = context + 0x100;
    clear(context, 0x100 + l.AccessStateSize);
    writePointer(context + l.SecurityQos, 0);
    writePointer(context + l.SecurityAccessState, accessState);
    write32(context + l.SecurityDesiredAccess, access);
    write32(accessState + l.AccessPreviouslyGranted, access);
    return context;
}

// Sends a device-control request; in and out are the caller's buffers, at
// the guest addresses claimedIn and claimedOut when it names its own.
uint32_t send(uint32_t handle, uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
              const uint64_t* claimed, uint32_t* information)
{
    *information = 0;
    const File* opened = file(handle);
    const uint32_t required = (code >> 14) & 3, method = code & 3;
    uint32_t status = StatusSuccess;
    if (opened == nullptr) {
        status = StatusInvalidHandle;
    } else if (((required & FileReadAccess) != 0 && (opened->access & FileReadData) == 0) ||
               ((required & FileWriteAccess) != 0 && (opened->access & FileWriteData) == 0)) {
        status = StatusAccessDenied;
    } else if ((inLength != 0 && in == nullptr) || (outLength != 0 && out == nullptr)) {
        status = StatusAccessViolation; // the probe of the caller's buffers
    } else if (inLength > MaxTransfer || outLength > MaxTransfer) {
        status = StatusInsufficientResources;
    }
    const uint8_t* input = static_cast<const uint8_t*>(in);
    if (status == StatusSuccess) {
        Transfer transfer;
        transfer.code = code;
        transfer.inLength = inLength;
        transfer.outLength = outLength;
        transfer.userBuffer = claimed != nullptr ? claimed[1] : out != nullptr ? UserOutput : 0;
        const uint64_t area = irpArea() + SystemBufferOffset;
        if (method == MethodNeither) {
            Emulator::writeGuest(cpu(), UserPage, input, inLength);
            transfer.type3Input = claimed != nullptr ? claimed[0] : in != nullptr ? UserPage : 0;
        } else {
            // Buffered: one system buffer for both ways. Direct: the input
            // in the system buffer, the output described, not copied.
            const uint32_t length = method == MethodBuffered && outLength > inLength ? outLength : inLength;
            if (length > 0) {
                clear(area, length);
                Emulator::writeGuest(cpu(), area, input, inLength);
                transfer.systemBuffer = area;
                transfer.systemBufferLength = length;
            }
            if (method != MethodBuffered && outLength > 0) {
                const Layout& l = state.layout;
                transfer.mdl = irpArea() + MdlOffset;
                clear(transfer.mdl, l.MdlStructSize + 8);
                write16(transfer.mdl + l.MdlSize, static_cast<uint16_t>(l.MdlStructSize + pointerSize()));
                writePointer(transfer.mdl + l.MdlStartVa, UserOutput & ~uint64_t{0xFFF});
                write32(transfer.mdl + l.MdlByteCount, outLength);
                write32(transfer.mdl + l.MdlByteOffset, static_cast<uint32_t>(UserOutput & 0xFFF));
            }
        }
        status = dispatch(MajorDeviceControl, *opened, transfer);
        *information = static_cast<uint32_t>(state.request.information);
        // The I/O manager copies a buffered request's output back unless it failed (a warning copies).
        if (method == MethodBuffered && !isError(status) && *information > 0) {
            Emulator::readGuest(cpu(), area, out, *information < outLength ? *information : outLength);
        }
    }
    if (code == 0 || code == 1) {
        const uint32_t offset = input != nullptr && inLength >= 4 ? static_cast<uint32_t>(input[0] | input[1] << 8 | input[2] << 16) |
                                                    static_cast<uint32_t>(input[3]) << 24
                                              : 0;
        appendToken(state.requests, code == 0 ? 'r' : 'w', offset,
                    code == 1 && input != nullptr && inLength >= 5 ? input[4] : 0,
                    status != StatusSuccess);
    }
    return status;
}

} // namespace

uint32_t open(const char* name, uint32_t access, uint32_t* status, Security security, uint32_t share)
{
    const char* rest = "";
    const int device = state.running ? resolve(name, &rest) : -1;
    if (device < 0) {
        *status = StatusObjectNameNotFound;
        return 0;
    }
    if (std::strlen(rest) > MaxFileName) {
        *status = StatusObjectNameInvalid;
        return 0;
    }
    int slot = -1;
    for (int i = MaxFiles - 1; i >= 0; --i) {
        if (state.files[i].open && state.files[i].device == device && state.devices[device].exclusive) {
            *status = StatusAccessDenied; // a device created for one opening at a time
            return 0;
        }
        slot = state.files[i].open ? slot : i;
    }
    if (slot < 0) {
        *status = StatusInsufficientResources;
        return 0;
    }
    File& opened = state.files[slot];
    const uint32_t granted = mapGeneric(access);
    opened = File{true, state.fileObjects + static_cast<uint64_t>(slot) * state.layout.FileObjectSize, device, granted};
    makeFileObject(opened, slot, rest);
    Transfer create;
    create.securityContext = security == Security::Given ? securityContext(granted) : 0;
    create.options = FileOpen << 24 | FileSynchronousIoNonalert;
    create.share = share;
    *status = dispatch(MajorCreate, opened, create);
    if (isError(*status)) {
        opened = File{};
        return 0;
    }
    return FirstHandle + 4 * static_cast<uint32_t>(slot);
}

uint32_t control(uint32_t handle, uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                 uint32_t* information)
{
    return send(handle, code, in, inLength, out, outLength, nullptr, information);
}

uint32_t controlAt(uint32_t handle, uint32_t code, uint64_t in, uint64_t out, uint32_t* information)
{
    const uint64_t claimed[2] = {in, out};
    return send(handle, code, nullptr, 0, nullptr, 0, claimed, information);
}

uint32_t request(uint32_t handle, int major)
{
    const File* opened = file(handle);
    if (opened == nullptr) {
        return StatusInvalidHandle;
    }
    for (const MajorAccess& row : MajorAccesses) {
        if (row.major == major) {
            return (opened->access & row.needed) == 0 ? StatusAccessDenied : dispatch(major, *opened, Transfer{});
        }
    }
    return StatusInvalidParameter; // not a request a program can send this way
}

uint32_t close(uint32_t handle)
{
    File* opened = file(handle);
    if (opened == nullptr) {
        return StatusInvalidHandle;
    }
    // A close cannot fail for the program: what the driver answers does not
    // matter, only that both requests reach it.
    dispatch(MajorCleanup, *opened, Transfer{});
    dispatch(MajorClose, *opened, Transfer{});
    *opened = File{};
    return StatusSuccess;
}

int openFiles()
{
    int count = 0;
    for (const File& opened : state.files) {
        count += opened.open ? 1 : 0;
    }
    return count;
}

uint64_t memoryInUse() { return state.poolNext - (state.base + PoolOffset); }

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    uint32_t status = 0;
    const uint32_t handle = open(name, access, &status, Security::Given, share);
    if (handle == 0) {
        state.lastError = errorOf(status);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
}

BOOL WINAPI DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                            LPDWORD returned, LPOVERLAPPED overlapped)
{
    if (returned == nullptr && overlapped == nullptr) {
        state.lastError = ERROR_INVALID_PARAMETER; // a synchronous request must have somewhere to count
        return FALSE;
    }
    uint32_t information = 0;
    const uint32_t status = control(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)), code, in, inLength, out,
                                    outLength, &information);
    if (returned != nullptr) {
        *returned = information;
    }
    if (status != StatusSuccess) {
        state.lastError = errorOf(status);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    if (close(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle))) != StatusSuccess) {
        state.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

uint32_t lastError() { return state.lastError; }

} // namespace Kernel

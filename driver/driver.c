/*
 * ZQ4810.sys: the kernel driver behind \\.\ZQ4810Dev.
 *
 * It serves the library's two requests, each one byte at one port of the
 * board: control code 0 reads (4-byte offset in, the byte out), control code
 * 1 writes (offset and byte in, nothing out). The codes are plain numbers, so
 * their transfer method bits say buffered for 0 and in-direct for 1; both
 * carry their input in the system buffer, and code 1 has no output to map.
 * What a request must look like is request.c's business.
 *
 * At start it reads where the board sits from its service's Parameters key
 * (IoPortAddress, IoPortCount, written by the library's installation) and
 * refuses every offset at or beyond the port count. It does not start on a
 * block of ports that the board does not have or that leaves the I/O space:
 * whoever can open the device reaches exactly the board's ports and no
 * other. Why it did not start goes to the debug output and, for the user, to
 * the System event log. What sits behind the ports is ports.h's business: the real board or
 * the board model.
 *
 * Any number of openings may be open at once: the library opens the device
 * twice, for reading and for writing. The control codes ask the system for no
 * access, so the driver itself ties what an opening may do to how it was
 * opened: a port write only on an opening made for writing, reads on any.
 * The device has no names below it, and the system checks the device's own
 * security for such names too (FILE_DEVICE_SECURE_OPEN); the driver refuses
 * them. Requests may arrive on several processors at once; a spin lock lets
 * one at a time reach the board.
 */
#include <ntddk.h>

#include "ports.h"
#include "request.h"

/* The rights that let an opening write, as the kernel names them. */
C_ASSERT(REQUEST_WRITE_ACCESS == (FILE_WRITE_DATA | GENERIC_WRITE | GENERIC_ALL));

/* The x86 I/O space: ports 0 to 0xFFFF. */
#define IO_SPACE_SIZE 0x10000UL

static KSPIN_LOCK boardLock;
/* The registered block of ports; the address is kept for the messages of a
 * start that fails after reading it. */
static ULONG portAddress;
static ULONG portCount;

static UNICODE_STRING text(const WCHAR* chars)
{
    UNICODE_STRING result;
    RtlInitUnicodeString(&result, chars);
    return result;
}

int DriverQueryDword(void* key, const wchar_t* name, unsigned long* value)
{
    /* The partial information header followed by the four data bytes, kept
     * aligned for the header. */
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } answer;
    UNICODE_STRING valueName = text(name);
    ULONG length = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, &answer,
                                      sizeof answer, &length);
    if (!NT_SUCCESS(status) || answer.info.Type != REG_DWORD ||
        answer.info.DataLength != sizeof(ULONG)) {
        return 0;
    }
    *value = (ULONG)answer.info.Data[0] | (ULONG)answer.info.Data[1] << 8 |
             (ULONG)answer.info.Data[2] << 16 | (ULONG)answer.info.Data[3] << 24;
    return 1;
}

static NTSTATUS openKey(HANDLE* key, HANDLE root, UNICODE_STRING* name)
{
    /* No OBJ_KERNEL_HANDLE: NT 4.0 does not know it, and DriverEntry runs in
     * the system process, whose handles user programs cannot reach. */
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, name, OBJ_CASE_INSENSITIVE, root, NULL);
    return ZwOpenKey(key, KEY_READ, &attributes);
}

/* The step of the start that refused it, as the error log entry's unique
 * value: entries with the same message still tell which check it was. */
enum StartStep {
    STEP_SERVICE_KEY = 1,
    STEP_PARAMETERS_KEY,
    STEP_VALUES,
    STEP_PORT_BLOCK,
    STEP_BOARD,
    STEP_DEVICE,
    STEP_LINK
};

/* The dump data of a refused start: the registered base address, the port
 * count (0 where not read yet) and the status of the step that failed. */
#define REFUSAL_DUMP_WORDS 3u
#define REFUSAL_ENTRY_SIZE (FIELD_OFFSET(IO_ERROR_LOG_PACKET, DumpData) + REFUSAL_DUMP_WORDS * sizeof(ULONG))
/* Within the system's limit for an entry, on both widths. */
C_ASSERT(REFUSAL_ENTRY_SIZE <= ERROR_LOG_MAXIMUM_SIZE);

/* Says why the driver does not start where a Windows user looks: the System
 * event log, through the I/O error log. The message is one of the system's
 * own (the driver's event source names the system's I/O message file), so
 * the driver registers no text of its own; the system puts the driver's name
 * in it. Without an entry to fill (the system short of memory, or a system
 * that keeps no such log) the start is refused all the same, with the debug
 * message alone. Gives the status the start fails with. */
static NTSTATUS refuse(PDRIVER_OBJECT driver, NTSTATUS message, ULONG step, NTSTATUS cause, NTSTATUS result)
{
    PIO_ERROR_LOG_PACKET entry = (PIO_ERROR_LOG_PACKET)IoAllocateErrorLogEntry(driver, (UCHAR)REFUSAL_ENTRY_SIZE);
    if (entry == NULL) {
        return result;
    }
    /* Every field set: the entry comes from the system's pool as it is. */
    entry->MajorFunctionCode = 0;
    entry->RetryCount = 0;
    entry->DumpDataSize = (USHORT)(REFUSAL_DUMP_WORDS * sizeof(ULONG));
    entry->NumberOfStrings = 0;
    entry->StringOffset = 0;
    entry->EventCategory = 0;
    entry->ErrorCode = message;
    entry->UniqueErrorValue = step;
    entry->FinalStatus = result;
    entry->SequenceNumber = 0;
    entry->IoControlCode = 0;
    entry->DeviceOffset.QuadPart = 0;
    entry->DumpData[0] = portAddress;
    entry->DumpData[1] = portCount;
    entry->DumpData[2] = (ULONG)cause;
    IoWriteErrorLogEntry(entry);
    return result;
}

/* Reads the board's address and port count and starts the board there.
 * Every refusal is the registration's: it is missing or names ports that
 * are not the board's. */
static NTSTATUS startFromRegistry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    HANDLE service;
    HANDLE parameters;
    UNICODE_STRING parametersName = text(L"Parameters");
    NTSTATUS message = IO_ERR_CONFIGURATION_ERROR;
    ULONG step = 0;
    NTSTATUS status = openKey(&service, NULL, registryPath);
    if (!NT_SUCCESS(status)) {
        DbgPrint("ZQ4810: cannot open the service key (0x%08lX)\n", (ULONG)status);
        return refuse(driver, message, STEP_SERVICE_KEY, status, status);
    }
    status = openKey(&parameters, service, &parametersName);
    ZwClose(service);
    if (!NT_SUCCESS(status)) {
        DbgPrint("ZQ4810: no Parameters key; register the base address and restart\n");
        return refuse(driver, message, STEP_PARAMETERS_KEY, status, STATUS_DEVICE_CONFIGURATION_ERROR);
    }
    if (!DriverQueryDword(parameters, L"IoPortAddress", &portAddress) ||
        !DriverQueryDword(parameters, L"IoPortCount", &portCount)) {
        DbgPrint("ZQ4810: IoPortAddress or IoPortCount missing or not a DWORD\n");
        step = STEP_VALUES;
    } else if (portCount == 0 || portCount > PORTS_BOARD_COUNT || portAddress >= IO_SPACE_SIZE ||
               portCount > IO_SPACE_SIZE - portAddress) {
        /* Compared without a sum, which could wrap. A count the board does
         * not have is the registration's fault; a right count that does not
         * fit is the base address's. */
        DbgPrint("ZQ4810: %lu ports at 0x%lX are not the board's %u ports inside the I/O space\n", portCount,
                 portAddress, PORTS_BOARD_COUNT);
        step = STEP_PORT_BLOCK;
        if (portCount != 0 && portCount <= PORTS_BOARD_COUNT) {
            message = IO_ERR_INVALID_IOBASE;
        }
    } else if (!PortsStart(parameters, portAddress, portCount)) {
        DbgPrint("ZQ4810: no %s board at 0x%lX with %lu ports\n", PortsKind, portAddress, portCount);
        step = STEP_BOARD;
    } else {
        DbgPrint("ZQ4810: %s board at port 0x%lX, %lu ports\n", PortsKind, portAddress, portCount);
    }
    ZwClose(parameters);
    if (step != 0) {
        return refuse(driver, message, step, STATUS_DEVICE_CONFIGURATION_ERROR, STATUS_DEVICE_CONFIGURATION_ERROR);
    }
    return STATUS_SUCCESS;
}

static NTSTATUS finish(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

/* An opening's file object carries, in FsContext (the field of the driver
 * that serves its create), the address of this byte when it may write, and
 * null when it may only read. Only the address counts; the byte is never
 * used. Nothing is allocated for an opening, so a close has nothing to free.
 * The file object's own WriteAccess is no help: share access checks fill it,
 * which this driver cannot make (the library's read opening shares reading
 * only, so its write opening would be refused), and Wine leaves it unset. */
static UCHAR openedForWriting;

static NTSTATUS NTAPI openFile(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PFILE_OBJECT file = stack->FileObject;
    PIO_SECURITY_CONTEXT security = stack->Parameters.Create.SecurityContext;
    ULONG access = 0;
    UNREFERENCED_PARAMETER(device);

    if (file == NULL) {
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    }
    /* The rights asked for, and those the system's check of the device's
     * security granted: the I/O manager may move a granted right from the
     * one to the other before the create reaches the driver, so a right in
     * either counts. */
    if (security != NULL) {
        access = security->DesiredAccess;
        if (security->AccessState != NULL) {
            access |= security->AccessState->PreviouslyGrantedAccess;
        }
    }
    /* A name below the device is not found (ERROR_PATH_NOT_FOUND for the
     * program): it does not exist, and only a caller the device's security
     * lets in gets this far, so a refusal of access would mislead. Nothing
     * is remembered for it. */
    switch (RequestOpen(file->FileName.Length, security != NULL, access)) {
    case OPENING_REFUSED:
        return finish(irp, STATUS_OBJECT_PATH_NOT_FOUND, 0);
    case OPENING_WRITES:
        file->FsContext = &openedForWriting;
        break;
    default:
        file->FsContext = NULL;
        break;
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI closeFile(PDEVICE_OBJECT device, PIRP irp)
{
    UNREFERENCED_PARAMETER(device);
    return finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
    UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
    const enum RequestOpening opening =
        stack->FileObject != NULL && stack->FileObject->FsContext == &openedForWriting ? OPENING_WRITES
                                                                                      : OPENING_READS;
    unsigned int offset = 0;
    KIRQL irql;
    UCHAR value = 0;
    UNREFERENCED_PARAMETER(device);

    /* The request holds bytes only, no pointers: a 32-bit caller under
     * WOW64 sends the same bytes and lengths as a 64-bit one, so the x64
     * driver serves both alike and has nothing to translate. */
    switch (RequestCheck(opening, code, inLength, outLength, buffer, portCount, &offset)) {
    case REQUEST_SERVE:
        break;
    case REQUEST_UNKNOWN:
        return finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    case REQUEST_DENIED:
        return finish(irp, STATUS_ACCESS_DENIED, 0);
    default:
        return finish(irp, STATUS_INVALID_PARAMETER, 0);
    }

    KeAcquireSpinLock(&boardLock, &irql);
    if (code == REQUEST_READ_CODE) {
        value = PortsRead(offset);
    } else {
        PortsWrite(offset, buffer[REQUEST_OFFSET_BYTES]);
    }
    KeReleaseSpinLock(&boardLock, irql);

    if (code == REQUEST_READ_CODE) {
        buffer[0] = value;
        return finish(irp, STATUS_SUCCESS, 1);
    }
    return finish(irp, STATUS_SUCCESS, 0);
}

static VOID NTAPI unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING linkName = text(L"\\DosDevices\\ZQ4810Dev");
    IoDeleteSymbolicLink(&linkName);
    IoDeleteDevice(driver->DeviceObject);
    DbgPrint("ZQ4810: unloaded\n");
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING deviceName = text(L"\\Device\\ZQ4810Dev");
    UNICODE_STRING linkName = text(L"\\DosDevices\\ZQ4810Dev");
    PDEVICE_OBJECT device;
    NTSTATUS status;

    KeInitializeSpinLock(&boardLock);
    status = startFromRegistry(driver, registryPath);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    /* Not exclusive: the library holds two openings at once, and other
     * programs may watch the counters alongside it. No security descriptor
     * of its own: the system's default for a named device lets every local
     * user open it, as lab programs under ordinary accounts must. Secure
     * open has the system check that same security for a name below the
     * device, which would otherwise go unchecked (a system older than the
     * flag does not know it; the driver refuses such names all the same). */
    status = IoCreateDevice(driver, 0, &deviceName, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
    if (!NT_SUCCESS(status)) {
        DbgPrint("ZQ4810: cannot create the device (0x%08lX)\n", (ULONG)status);
        return refuse(driver, IO_ERR_INSUFFICIENT_RESOURCES, STEP_DEVICE, status, status);
    }
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        DbgPrint("ZQ4810: cannot create the device's link (0x%08lX)\n", (ULONG)status);
        IoDeleteDevice(device);
        return refuse(driver, IO_ERR_INSUFFICIENT_RESOURCES, STEP_LINK, status, status);
    }
    driver->MajorFunction[IRP_MJ_CREATE] = openFile;
    driver->MajorFunction[IRP_MJ_CLEANUP] = closeFile;
    driver->MajorFunction[IRP_MJ_CLOSE] = closeFile;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = control;
    driver->DriverUnload = unload;
    return STATUS_SUCCESS;
}

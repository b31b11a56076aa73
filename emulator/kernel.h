// A small emulated Windows kernel that runs ZQ4810.sys, i386 or x64, on its
// own machine code: the image mapped and relocated at a kernel address, its
// imports bound to this kernel (and nothing else), DriverEntry called with a
// driver object and the service's registry path, and the I/O manager's side
// of opening the device, sending it requests and closing it, as Windows does
// it. The registry the driver reads is the simulated platform's, the very
// store the DLL's registration wrote; the clock is this machine's; DbgPrint
// goes to the log, the I/O error log's entries to a list. The board sits at the ports from the registered base
// address on: the board model, with encoders that turn with the clock.
//
// The kernel holds the driver to the rules a driver verifier checks (rules.h),
// on every request and at unload; the first breach stops the driver's code
// and is kept in breach(), naming the request and the instruction.
#pragma once

#include "emulator/rules.h"
#include "model/hardware.h"
#include "zq4810/registry_paths.h"
#include "platform/win32.h"

#include <stddef.h>
#include <stdint.h>

namespace Kernel {

// NT status values the kernel and the driver use (StatusDriverBroke is
// STATUS_INTERNAL_ERROR: the answer to a request whose driver broke a rule).
enum Status : uint32_t {
    StatusSuccess = 0, StatusPending = 0x103, StatusBufferOverflow = 0x80000005, StatusUnsuccessful = 0xC0000001,
    StatusAccessViolation = 0xC0000005, StatusInvalidHandle = 0xC0000008, StatusInvalidParameter = 0xC000000D,
    StatusInvalidDeviceRequest = 0xC0000010, StatusAccessDenied = 0xC0000022, StatusBufferTooSmall = 0xC0000023,
    StatusObjectNameInvalid = 0xC0000033, StatusObjectNameNotFound = 0xC0000034,
    StatusObjectNameCollision = 0xC0000035, StatusObjectPathNotFound = 0xC000003A,
    StatusInsufficientResources = 0xC000009A, StatusDriverBroke = 0xC00000E5,
    StatusDeviceConfigurationError = 0xC0000182,
};

// Where the driver's service lies, for the registry and DriverEntry.
constexpr const char* ServicePath = RegistryPaths::ServiceKey;

// ---- The driver's life -----------------------------------------------------

// Drops everything (the driver, its objects, the board's state and the log)
// and maps the driver file with its imports bound; the file's machine picks
// the mode. False with a one-line reason in error() when it is not an i386 or
// x64 kernel driver or imports anything this kernel does not have.
bool load(const char* path);
const char* error();
int bits();
// Calls DriverEntry and gives its status (0 after a breach: see breach()).
// A driver that does not start is gone again, as Windows unloads it.
uint32_t start();
// The system start: load and start the driver when its service is
// registered. True when the driver runs.
bool boot(const char* path);
// Stopping the service: DriverUnload, then the driver is gone. False when the
// driver cannot be stopped (not running, files still open, no unload
// routine, a breach).
bool stop();
bool running();

// The first breach of a rule since load(), or "", and the rule (rules.h).
const char* breach();
Emulator::Rule breachedRule();
// What the driver printed, one line each.
const char* log();

// An entry the driver wrote to the system's error log (IoWriteErrorLogEntry),
// which the System event log shows with the message of its ErrorCode.
constexpr int MaxDumpWords = 8;
struct ErrorLogEntry {
    uint32_t errorCode;
    uint32_t uniqueValue;
    uint32_t finalStatus;
    uint32_t dumpWords; // the dump data's size in 4-byte words, of which dump holds the first MaxDumpWords
    uint32_t dump[MaxDumpWords];
};
// The entries written since load(), oldest first.
int errorLogCount();
const ErrorLogEntry& errorLogEntry(int index);

// ---- The device as programs see it ------------------------------------------

// Opening a name as CreateFileA does ("\\.\ZQ4810Dev" reaches the device
// through the driver's link, "\\.\ZQ4810Dev\x" the device with the name
// "\x" below it): a handle, or 0 with the status in *status. The driver's
// create gets what Windows gives it: a file object of its own, kept until
// the close, with the name below the device; the desired access, generic
// rights mapped to the file's own, in a security context whose access state
// has granted the same; the share access. Without a security context the
// create is one as Wine's kernel sends it.
enum class Security { Given, None };
uint32_t open(const char* name, uint32_t access, uint32_t* status, Security security = Security::Given,
              uint32_t share = FILE_SHARE_READ | FILE_SHARE_WRITE);
// A device request as DeviceIoControl sends it; its status, with the byte
// count the driver gave in *information and, where the transfer method
// copies it, the output in out.
uint32_t control(uint32_t handle, uint32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                 uint32_t* information);
// A device request with no lengths whose caller names its buffers at these
// guest addresses, any at all (the kernel's own among them): the I/O manager
// probes nothing of zero length, so they reach the driver as they are.
uint32_t controlAt(uint32_t handle, uint32_t code, uint64_t in, uint64_t out, uint32_t* information);
// A request of another major function (IRP_MJ_READ 3, WRITE 4,
// QUERY_INFORMATION 5, SET_INFORMATION 6, FLUSH_BUFFERS 9) with no data:
// STATUS_ACCESS_DENIED when the handle's access does not allow it, and
// STATUS_INVALID_DEVICE_REQUEST, the I/O manager's own answer, when the
// driver serves no such major.
uint32_t request(uint32_t handle, int major);
uint32_t close(uint32_t handle);
int openFiles();
// The kernel's memory in use by the objects it made, in bytes.
uint64_t memoryInUse();

// The same three with the Win32 functions' types and results, for the
// emulated DLL's imports (Emulator::bindDevice).
CreateFileAFunction CreateFileA;
DeviceIoControlFunction DeviceIoControl;
CloseHandleFunction CloseHandle;
// The Win32 error of the last of them that failed.
uint32_t lastError();

// Every device-control request with the control codes 0 (read) and 1
// (write) since the last clearTraces(), as the simulated platform's trace
// writes them: "w5=10 r4"; a request that did not succeed ends in '!'.
const char* requestTrace();
// Every port access the driver made, at its offset from the board's base:
// "w5=10 r4". A board variant that does what it is asked makes the same line
// as the requests; a simulated one makes none.
const char* portTrace();
void clearTraces();

// ---- The machine around the driver -----------------------------------------

// The board behind the ports, and its encoders: axis n turns at
// cyclesPerSecond[n] with the clock (negative backwards).
Hardware::Board& board();
void turnEncoders(const int cyclesPerSecond[Hardware::AxisCount]);
// The clock, which runs only when told: KeQueryPerformanceCounter counts
// TicksPerSecond a second.
constexpr uint64_t TicksPerSecond = 10000000;
void advanceClock(uint64_t milliseconds);

// The next call of this kernel function fails with this status, as the real
// one can (IoCreateDevice, IoCreateSymbolicLink, ZwOpenKey, ZwQueryValueKey;
// IoAllocateErrorLogEntry gives no entry, whatever the status).
void failNext(const char* function, uint32_t status);

// For a fuzzer, which starts the same driver thousands of times a second:
// the kernel and its memory as they are now (a driver loaded, not yet
// started), and the kernel put back to that, its translated code kept. False
// when there is no loaded driver or it does not fit.
bool save();
bool restore();

// Instructions the driver ran in its own code, for the benchmarks.
uint64_t instructions();

// ---- For the kernel's own tests: the driver's bytes as a faulty build would
// have them ---------------------------------------------------------------------

uint64_t imageBase();
uint64_t entryPoint();
// The routine the driver set for this major function (0 create, 2 close,
// 14 device control, 18 cleanup), or its unload routine.
uint64_t dispatchRoutine(int major);
uint64_t unloadRoutine();
// The import address table's slot of a function the driver imports, or 0.
uint64_t importSlot(const char* function);
bool readGuest(uint64_t address, void* into, size_t size);
bool patch(uint64_t address, const uint8_t* bytes, size_t size);

} // namespace Kernel

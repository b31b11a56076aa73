// Driving the simulated platform: the one header through which tests, the
// demo and the benchmarks reset it, inject faults, script the user's answers,
// read the request trace and the notices, and move the board's axes.
//
// The simulated platform stands in for the part of Windows the library
// touches (the driver's device, the registry, message boxes) and for the
// board behind the driver. Everything in it is fixed-size static state.
#pragma once

#include <stdint.h>

namespace Sim {

// Back to the state of a freshly booted machine: no device handle open, the
// board powered on (counters zero, multiplier 1), no faults, no notices, no
// scripted answers, empty trace, call counts zero.
void reset();

// ---- Faults ----------------------------------------------------------------

// The platform calls that can be made to fail. Any counts every call of the
// other kinds in one sequence, so "the k-th platform call" can be failed
// whatever it is.
enum class Call {
    DeviceRequest,  // DeviceIoControl
    DeviceOpen,     // CreateFileA
    DeviceClose,    // CloseHandle
    RegistryCreate, // RegCreateKeyExA
    RegistryOpen,   // RegOpenKeyExA
    RegistrySet,    // RegSetValueExA
    RegistryDelete, // RegDeleteKeyA
    Any,
};

// Fail exactly the k-th call (1-based) of this kind, counted since the last
// resetCounts() or reset().
void failCall(Call kind, int k);
// Fail the k-th call of this kind and every one after it.
void failCallsFrom(Call kind, int k);
// Calls of this kind made since the last resetCounts() or reset(), failed
// ones included.
int callCount(Call kind);
// Zero every call count; faults set by number keep their numbers.
void resetCounts();
// Remove every fault, leaving the counts.
void clearFaults();
// The kind of the k-th platform call (1-based) counted since the last
// resetCounts() or reset(), so a test that failed "call k" can tell what it
// failed; Any when there was no such call or it lies beyond the first 512.
Call callKind(int k);

// Every device opening that asks for this access (0x80000000 read,
// 0x40000000 write) fails.
void failOpening(uint32_t access);
// The length the driver reports for every read it serves (the request
// succeeds): 1 after reset(); 0 as a driver that answers nothing, 2 or more
// as one that claims more than the one byte it wrote. The byte is written
// whenever the length is not 0.
void readReplyLength(uint32_t length);
// The axis answers value instead of latch byte byteIndex (0 least
// significant, 2 most), as a board with a broken loop-back would. A value
// below 0 takes the corruption away.
void corruptEcho(int axis, int byteIndex, int value);

// ---- Requests --------------------------------------------------------------

// Every device request the driver received since the last clearTrace(), one
// token each, separated by single spaces: "w5=10" a write of byte 0x10 to
// port 5, "r4" a read of port 4. A failed request ends in '!', a request on a
// handle not opened for its direction starts with '~', an unknown control
// code reads "?<code>". For one-line assertions; a test that works through
// the requests one by one reads them from request(i).
const char* trace();
// Empties the trace and the request log.
void clearTrace();

// The same requests one by one, oldest first; the first 1024 are kept, the
// count goes on. Requests on a handle that is not open never reach the driver
// and are in neither.
struct PortRequest {
    enum Kind : char { Read = 'r', Write = 'w', Other = '?' };
    Kind kind;
    uint32_t code;         // the control code
    uint32_t port;         // the offset asked for (0 when the input is too short for one)
    uint8_t byte;          // a write's byte; a read's byte as served (0 when it failed)
    bool failed;
    uint32_t handleAccess; // what its handle was opened for (0x80000000 read, 0x40000000 write)
    bool otherDirection;   // its handle was not opened for this direction
};
int requestCount();
PortRequest request(int index);

// The shape of the last request the driver received.
struct Request {
    uint32_t handleAccess; // the access its handle was opened with
    uint32_t code;
    uint32_t inputLength;
    uint32_t outputLength;
    bool outputBuffer;     // non-null
    bool overlapped;       // non-null
};
Request lastRequest();

struct OpenCall {
    char name[40];
    uint32_t access;
    uint32_t share;
    bool securityAttributes; // non-null
    uint32_t disposition;
    uint32_t flags;
    bool templateFile;       // non-null
    bool succeeded;
};
// The device openings since the last reset(), oldest first; the first 16 are kept.
int openCallCount();
OpenCall openCall(int index);
// Device handles open now.
int openDeviceHandles();

// ---- Notices ---------------------------------------------------------------

struct ShownNotice {
    char text[160];
    char caption[40];
    uint32_t style;
    bool ownerWindow; // a non-null owner was passed
};
// The notices shown since the last clearNotices() or reset(), oldest first.
// The first 256 are kept; the count goes on.
int noticeCount();
ShownNotice notice(int index);
void clearNotices();
// Answers for the next questions, in order. Once they are used up a question
// is answered Yes and an error notice OK.
void scriptAnswers(const int* answers, int count);
// Each notice is also written to standard error as "[caption] text"; this
// turns that off or on again (on after reset()).
void echoNotices(bool on);

// ---- Registry --------------------------------------------------------------
//
// Paths are relative to HKEY_LOCAL_MACHINE, compared without regard to case,
// with or without a trailing backslash: "SYSTEM\\CurrentControlSet\\Services\\ZQ4810".
// On the host the registry is an in-memory tree with Windows' semantics; in
// the Windows test program these same calls reach the real registry.

// Calls naming this path (or, for values, this value name) fail with
// ERROR_ACCESS_DENIED, until reset(). Up to 8 of each kind.
void failRegistryCreate(const char* path);
void failRegistryOpen(const char* path);
void failRegistrySet(const char* valueName);
void failRegistryDelete(const char* path);

// Inspection and set-up, for tests: these never count as calls or fail.
bool registryKeyExists(const char* path);
// Whether the value exists; when it does, its type and up to *size bytes of
// data are copied and *size becomes its real size.
bool registryValue(const char* path, const char* name, uint32_t* type, uint8_t* data, uint32_t* size);
// The number of subkeys the key has (0 for a missing key); the name of
// subkey i, or an empty text.
int registrySubkeyCount(const char* path);
const char* registrySubkeyName(const char* path, int index);
// Creates the key (and its parents) / sets a value, as an earlier program would have.
void registryCreateKey(const char* path);
void registrySetValue(const char* path, const char* name, uint32_t type, const void* data, uint32_t size);
// Key handles opened or created and not yet closed.
int openRegistryKeys();

// Every registry call since the last reset() or clearRegistryCalls(), oldest
// first; the first 64 are kept.
struct RegistryCall {
    char operation;       // 'C' create, 'O' open, 'S' set value, 'D' delete, 'X' close
    char path[200];       // the key named or, for 'S' and 'X', the key the handle is open on
    char valueName[40];   // 'S' only
    uint32_t access;      // 'C', 'O'
    uint32_t options;     // 'C', 'O'
    bool classGiven;      // 'C': a non-null class
    bool securityGiven;   // 'C': non-null security attributes
    uint32_t reserved;    // the Reserved argument ('C', 'S')
    uint32_t type;        // 'S'
    uint32_t size;        // 'S'
    long result;          // what the call returned
};
int registryCallCount();
RegistryCall registryCall(int index);
void clearRegistryCalls();

// ---- Board -----------------------------------------------------------------

// Encoder motion on one axis: cycles times its multiplier, wrapping at 24 bits.
void moveAxis(int axis, int cycles);
void setCounter(int axis, uint32_t value);
uint32_t counter(int axis);
uint32_t preset(int axis);
int multiplier(int axis);
// What a mode port (8 or 9) holds.
int modePort(int port);


// ---- Programs on the simulated platform ------------------------------------
//
// A program (the console tool) runs the library on the simulated platform in
// a process of its own; a test of that program sets the simulator up through
// one environment variable, ZQ4810_SIM, read by the simulator and never by the
// library. It holds settings separated by commas:
//
//   no-device           every device opening fails
//   axis-fails=A        axis A (0..3) answers its loop-back wrongly, so it
//                       fails the self-test
//   request-fails=K     the K-th device request fails (1-based)
//   requests-fail-from=K  the K-th device request and every one after it fail
//   registry-fails      every registry call fails
//   answer=yes|no       the answer to every Yes/No question
//   registered          the driver is registered already and has run, as an
//                       earlier installation and restart would have left it
//                       (the service key with its Parameters and Enum subkeys)
//   still               the axes do not move by themselves (startMotion does
//                       nothing), so readings are repeatable
//   report              at exit, a line on standard error with the number of
//                       platform calls and notices the process made:
//                       "[sim] platform calls 57 (device 57, registry 0), notices 0"
//
// Returns null when every setting was understood, else the first one that was
// not (the others are applied all the same).
const char* configureFromEnvironment();

// A restart of the simulated machine: the system starts the registered driver
// and, as Windows does for a running service, gives its service key an Enum
// subkey. Nothing happens when the driver is not registered.
void restartMachine();

// The axes move by themselves, as a running machine's would: from now on each
// advances by its speed in encoder cycles per second (times its multiplier),
// applied whenever the driver serves a request. Does nothing under "still".
void startMotion(const int cyclesPerSecond[4]);

} // namespace Sim

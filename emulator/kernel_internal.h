// Inside the emulated kernel: its state, shared by the driver's life
// (kernel.cpp), the watch over it (kernel_watch.cpp), the I/O manager
// (io_manager.cpp, io_objects.cpp) and the kernel's other functions the
// driver imports (registry.cpp, hal.cpp, rtl.cpp), each subsystem with its
// table of them.
#pragma once

#include "emulator/kernel.h"
#include "emulator/kernel_layout.h"
#include "emulator/layout.h"
#include "emulator/system.h"
#include "model/motion.h"

namespace Kernel {

using Emulator::Rule;

// The fields of the system's structures at this width.
struct Layout {
    KERNEL_OFFSETS(LAYOUT_U32)
    KERNEL_SIZES(LAYOUT_U32)
    KERNEL_CONSTANTS(LAYOUT_U32)
};

constexpr int MajorCreate = 0x00;
constexpr int MajorClose = 0x02;
constexpr int MajorRead = 0x03;
constexpr int MajorWrite = 0x04;
constexpr int MajorQueryInformation = 0x05;
constexpr int MajorSetInformation = 0x06;
constexpr int MajorFlushBuffers = 0x09;
constexpr int MajorDeviceControl = 0x0E;
constexpr int MajorCleanup = 0x12;
constexpr int MajorCount = 28;

constexpr int MaxDevices = 4;
constexpr int MaxLinks = 4;
constexpr int MaxKeys = 8;
constexpr int MaxFiles = 16;
constexpr int MaxLocks = 4;
constexpr int MaxFaults = 4;
constexpr int MaxLogEntries = 4;
constexpr size_t MaxName = 128;
// The longest name below a device that an opening may give, in characters.
constexpr size_t MaxFileName = 255;
constexpr uint32_t MaxTransfer = 0x1000; // what this I/O manager buffers of one request

// NT_SUCCESS, and NT_ERROR (a warning is neither).
constexpr bool succeeded(uint32_t status) { return status < 0x80000000u; }
constexpr bool isError(uint32_t status) { return status >= 0xC0000000u; }

struct Device {
    bool used;
    uint64_t address;
    char name[MaxName];
    bool exclusive;
    uint64_t extension;
    uint32_t extensionSize;
};

struct Link {
    bool used;
    char name[MaxName];
    char target[MaxName];
};

struct Key {
    bool open;
    char path[256];
    uint32_t access;
};

// An opening: its file object, kept from the create to the close, and the
// access it was granted (generic rights mapped to the file's own).
struct File {
    bool open;
    uint64_t object;
    int device;
    uint32_t access;
};

struct HeldLock {
    uint64_t address;
    uint8_t irql; // to return to on release
};

struct Fault {
    char function[40];
    uint32_t status;
};

// An error log entry the kernel handed the driver: the driver's to fill in
// until it writes it, the system's after.
struct LogEntry {
    uint64_t address;
    uint32_t size;
    bool written;
};

enum class Phase { Idle, Entry, Dispatch, Unload };

// The request the driver is serving, or served last.
struct Request {
    int number;
    int major;
    uint32_t code;
    uint32_t outLength;
    bool completed;
    uint32_t status;
    uint64_t information;
    uint64_t systemBuffer;
    uint32_t systemBufferLength;
    uint64_t fileObject;
};

struct Trace {
    char text[16384];
    size_t length;
};

struct State {
    Emulator::System system;
    Emulator::Image image;
    Layout layout;
    uint64_t base = 0; // of the kernel's address space
    bool loaded = false;
    bool running = false;
    uint64_t driverObject = 0;
    uint64_t registryPath = 0;
    uint64_t poolNext = 0;
    uint64_t fileObjects = 0; // MaxFiles of them
    uint64_t fileNames = 0;   // each file object's name, MaxFileName characters
    Device devices[MaxDevices] = {};
    Link links[MaxLinks] = {};
    Key keys[MaxKeys] = {};
    File files[MaxFiles] = {};
    HeldLock locks[MaxLocks] = {};
    int lockCount = 0;
    uint8_t irql = 0;
    Phase phase = Phase::Idle;
    Request request = {};
    int requestCount = 0;
    // The registered ports, where the board sits.
    uint32_t portBase = 0;
    uint32_t portCount = 0;
    Hardware::Board board = {};
    Hardware::Motion motion = {};
    bool turning = false;
    uint64_t clock = 0;
    char log[8192] = "";
    size_t logLength = 0;
    Trace requests = {};
    Trace ports = {};
    Fault faults[MaxFaults] = {};
    LogEntry logEntries[MaxLogEntries] = {};
    ErrorLogEntry errorLog[MaxLogEntries] = {}; // what the written ones said
    int errorLogCount = 0;
    uint64_t instructions = 0;
    uint32_t lastError = 0;
    Emulator::Error error;
};

extern State state;

constexpr uint8_t PassiveLevel = 0;
constexpr uint8_t DispatchLevel = 2;
constexpr uint32_t DeviceInitializing = 0x80; // a device's flag until DriverEntry returns
constexpr char RegistryRoot[] = "\\Registry\\Machine\\";
constexpr const char* Ntoskrnl = "ntoskrnl.exe";
constexpr const char* Hal = "hal.dll";

// The kernel's address space, from the top half's usual start on: stubs, a
// pool for the objects it makes, the request area, a stack, the driver.
constexpr uint64_t KernelBase32 = 0x80000000;
constexpr uint64_t KernelBase64 = 0xFFFFF80000000000;
constexpr uint64_t StubOffset = 0x00010000;
constexpr uint64_t PoolOffset = 0x00020000;
constexpr uint64_t PoolSize = 0x00010000;
constexpr uint64_t IrpOffset = 0x00100000;
constexpr uint64_t IrpAreaSize = 0x3000;
constexpr uint64_t StackOffset = 0x00200000;
constexpr uint64_t StackSize = 0x6000;
constexpr uint64_t ImageOffset = 0x00400000;
// A page at a user-mode address for the buffers of a request that the I/O
// manager hands over as they are (METHOD_NEITHER).
constexpr uint64_t UserPage = 0x10000;

// Each subsystem's functions, as the drivers of each width import them.
extern const Emulator::FunctionTable IoObjectFunctions; // io_objects.cpp
extern const Emulator::FunctionTable IoRequestFunctions; // io_manager.cpp
extern const Emulator::FunctionTable RegistryFunctions;  // registry.cpp
extern const Emulator::FunctionTable HalFunctions;       // hal.cpp
extern const Emulator::FunctionTable RtlFunctions;       // rtl.cpp

// ---- Guest memory, on the kernel's machine ------------------------------------

inline Emulator::Machine& cpu() { return state.system.machine; }
inline uint16_t read16(uint64_t address) { return Emulator::guest16(cpu(), address); }
inline uint32_t read32(uint64_t address) { return Emulator::guest32(cpu(), address); }
inline uint64_t readPointer(uint64_t address) { return Emulator::guestPointer(cpu(), address); }
inline void write8(uint64_t address, uint8_t value) { Emulator::put8(cpu(), address, value); }
inline void write16(uint64_t address, uint16_t value) { Emulator::put16(cpu(), address, value); }
inline void write32(uint64_t address, uint32_t value) { Emulator::put32(cpu(), address, value); }
inline void writePointer(uint64_t address, uint64_t value) { Emulator::putPointer(cpu(), address, value); }
inline uint64_t pointerSize() { return cpu().width->pointer; }
// A structure's header as the system writes it: its type and size.
inline void writeHeader(uint64_t object, uint16_t type, uint32_t size)
{
    write16(object, type);
    write16(object + 2, static_cast<uint16_t>(size));
}

// ---- The kernel's address space (kernel.cpp) ------------------------------------

uint64_t irpArea();
// Space for an object the kernel makes, zeroed; 0 when the pool is full.
uint64_t allocate(uint32_t size);
// Zeroes guest memory.
void clear(uint64_t address, uint64_t size);
bool inRange(uint64_t address, uint64_t size, uint64_t begin, uint64_t length);

// ---- The watch over the driver (kernel_watch.cpp) ---------------------------------

bool watchDriver();
// What the driver may write: its own data and stack, and what the kernel
// hands it to fill in.
bool driverMayWrite(uint64_t address, uint64_t size);
// "DriverEntry", "IRP 3 (IRP_MJ_DEVICE_CONTROL, code 0x1)", ...: what every
// breach's text starts with.
const char* context();
// "ZQ4810.sys+0x1234 (..)", or the bare address outside the image.
const char* where(uint64_t address);
void breach(Rule rule, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool breached();
// Inside a kernel function: its name, for what it says.
const char* called();

// ---- The driver's life (kernel.cpp) ----------------------------------------------

// Runs a routine of the driver in a phase, as the system calls it; false
// after a breach. *result is the routine's return value. The phase stays
// for the caller's own checks; the caller ends it.
bool runDriver(Phase phase, uint64_t routine, const uint64_t* arguments, int count, const char* name,
               uint64_t* result);

// ---- Shared by the kernel's functions ----------------------------------------------

// The next failure failNext() asked for of the function being served.
bool injected(uint32_t* status);
// An output pointer the driver hands the function must point where it may
// write; false after a breach.
bool output(uint64_t address, uint64_t size);
// A counted UTF-16 string of the driver's, as 8-bit text (other characters
// as '?'); false after a breach (rtl.cpp).
bool readName(uint64_t string, char* into, size_t size);
// A counted string the kernel makes (rtl.cpp).
uint64_t unicodeString(const char* text);
// The device of the driver's at this address, or -1 (io_objects.cpp).
int deviceAt(uint64_t address);
// A port access of the driver's, checked and served by the board; by says
// what made it, for a breach (hal.cpp).
uint8_t portAccess(bool write, uint64_t port, int size, uint8_t value, const char* by);
// Where the registration puts the board (hal.cpp).
void placeBoard();
void appendToken(Trace& trace, char kind, uint32_t offset, uint8_t value, bool failed);

} // namespace Kernel

// One emulated x86 processor and its memory (Unicorn), in 32-bit or 64-bit
// mode, with what the DLL's process and the emulated kernel both need of it:
// reading and writing guest memory, the system's side of a call into the
// guest and back out of it, and the first breach of a rule, which stops the
// emulation and is kept for the test to report.
//
// The calling conventions are Windows': on i386 the guest's own functions
// are stdcall (the callee removes its arguments) and the system's may be
// stdcall, cdecl or fastcall; on x64 there is one convention (rcx, rdx, r8,
// r9, then the stack above 32 bytes of shadow space, rsp 16-byte aligned at
// every call).
#pragma once

#include <unicorn/unicorn.h>

#include <stddef.h>
#include <stdint.h>

namespace Emulator {

struct Range {
    uint64_t begin, end;
};

bool inside(const Range* ranges, size_t count, uint64_t address, uint64_t size);

struct Machine {
    uc_engine* uc = nullptr;
    int bits = 32;
    char breach[256] = "";
};

bool open(Machine& machine, int bits);
void close(Machine& machine);

// The first breach since the last clearBreach() is the one that counts: it
// stops the emulation.
void breach(Machine& machine, const char* format, ...) __attribute__((format(printf, 2, 3)));
void clearBreach(Machine& machine);
bool breached(const Machine& machine);

uint64_t instructionPointer(Machine& machine);
uint64_t stackPointer(Machine& machine);

// Guest memory, ignoring protections (the system's own view). Reads of
// memory that is not mapped give false.
bool readGuest(Machine& machine, uint64_t address, void* into, size_t size);
bool writeGuest(Machine& machine, uint64_t address, const void* from, size_t size);
uint32_t guest32(Machine& machine, uint64_t address);
uint16_t guest16(Machine& machine, uint64_t address);
// A pointer-sized value: 4 bytes on i386, 8 on x64.
uint64_t guestPointer(Machine& machine, uint64_t address);
bool putPointer(Machine& machine, uint64_t address, uint64_t value);
// A zero-terminated 8-bit text of at most size bytes with its end.
bool guestText(Machine& machine, uint64_t address, char* into, size_t size);

// "instruction at 0x... (image+0x...: 8b 45 08 ...)", the image given by its
// base and size.
void describeInstruction(Machine& machine, uint64_t imageBase, uint64_t imageSize, char* out, size_t size);

// ---- The system's functions the guest imports -----------------------------

enum class Convention { Stdcall, Cdecl, Fastcall, Microsoft };

// A page of stubs, one per import, each "int 0x80" and a return that removes
// what the convention says (on x64 nothing), and a return address that ends
// a call into the guest: see callGuest.
constexpr uint64_t StubStride = 8;
constexpr uint64_t StubPageSize = 0x1000;
bool mapStubs(Machine& machine, uint64_t base, const uint16_t* removedBytes, int count);
uint64_t returnAddressOf(uint64_t stubBase);
// Which stub the interrupt at the instruction pointer came from, or -1.
int stubIndex(Machine& machine, uint64_t stubBase, int count);
// Inside a stub's interrupt: the caller's return address, and its argument
// i (0-based) as the convention passes it.
uint64_t callerAddress(Machine& machine);
uint64_t argument(Machine& machine, Convention convention, int index);
// The function's result: eax (with edx for a 64-bit one on i386) or rax; the
// registers a caller may not count on are scrambled.
void setResult(Machine& machine, uint64_t value, bool wide = false);
// x64: the caller's stack must be 16-byte aligned at the call and hold 32
// bytes of shadow space below limit (the stack pointer the guest was entered
// with); the callee may use that space, and this one does. A breach names the
// function otherwise.
void checkCallerStack(Machine& machine, const char* function, uint64_t limit);

// ---- Calling into the guest ------------------------------------------------

// Runs the guest function at entry as the system calls one: the arguments
// (at most 8) as the convention passes them, the stub page's return address,
// and registers the callee must keep; stackTop is the top of the guest's
// stack. Afterwards the callee must have removed exactly its arguments
// (i386) or left the stack as it found it (x64), and kept the caller's
// registers; a breach says otherwise. The result is eax or rax (0 after a
// breach). stackPointerAtEntry, when given, receives the stack pointer the
// callee started with.
uint64_t callGuest(Machine& machine, uint64_t entry, const uint64_t* arguments, int count, const char* name,
                   uint64_t stackTop, uint64_t stubBase, uint64_t* stackPointerAtEntry = nullptr);

} // namespace Emulator

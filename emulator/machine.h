// One emulated x86 processor and its memory (Unicorn), in 32-bit or 64-bit
// mode, with what the DLL's process and the emulated kernel both need of it:
// reading and writing guest memory, the calling conventions of both widths,
// a call into the guest and back out of it, and the first breach of a rule,
// which stops the emulation and is kept for the test to report.
//
// The calling conventions are Windows': on i386 the guest's own functions
// are stdcall (the callee removes its arguments) and the system's may be
// stdcall, cdecl or fastcall; on x64 there is one convention (rcx, rdx, r8,
// r9, then the stack above 32 bytes of shadow space, rsp 16-byte aligned at
// every call). What differs between the widths is one descriptor each.
#pragma once

#include "emulator/rules.h"

#include <unicorn/unicorn.h>

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

namespace Emulator {

struct Range {
    uint64_t begin, end;
};

bool inside(const Range* ranges, size_t count, uint64_t address, uint64_t size);

enum class Convention { Stdcall, Cdecl, Fastcall, Microsoft };

// What a width is to the emulator: its pointers, its registers, and the
// frame a call of the guest's own convention builds.
struct Width {
    int bits;
    uc_mode mode;
    uint64_t pointer;   // bytes
    uint64_t mask;      // of a register's value
    int ip, sp, flags;
    int result, resultHigh;                // a 64-bit result's high half: edx on i386; -1 where result holds it all
    const int* kept;                       // the registers a callee keeps for its caller
    const char* const* keptNames;
    size_t keptCount;
    const int* scratch;                    // those a caller may not count on after a call
    size_t scratchCount;
    Convention own;                        // the guest's own functions'; on x64 the only one
    uint64_t stackAlignment;               // of the stack above the return address at a call
};

struct Machine {
    uc_engine* uc = nullptr;
    int bits = 32;
    const Width* width = nullptr;
    Rule rule = Rule::None;
    char breach[256] = "";
    // What the breach's text starts with ("IRP 3 (...)"), when set.
    const char* (*context)() = nullptr;
};

bool open(Machine& machine, int bits);
void close(Machine& machine);

// The first breach since the last clearBreach() is the one that counts: it
// stops the emulation.
void breach(Machine& machine, Rule rule, const char* format, ...) __attribute__((format(printf, 3, 4)));
void breachV(Machine& machine, Rule rule, const char* format, va_list list);
void clearBreach(Machine& machine);
bool breached(const Machine& machine);

uint64_t reg(Machine& machine, int id);
uint64_t instructionPointer(Machine& machine);
uint64_t stackPointer(Machine& machine);

// Guest memory, ignoring protections (the system's own view). Reads of
// memory that is not mapped give false, or 0.
bool readGuest(Machine& machine, uint64_t address, void* into, size_t size);
bool writeGuest(Machine& machine, uint64_t address, const void* from, size_t size);
uint16_t guest16(Machine& machine, uint64_t address);
uint32_t guest32(Machine& machine, uint64_t address);
// A pointer-sized value: 4 bytes on i386, 8 on x64.
uint64_t guestPointer(Machine& machine, uint64_t address);
void put8(Machine& machine, uint64_t address, uint8_t value);
void put16(Machine& machine, uint64_t address, uint16_t value);
void put32(Machine& machine, uint64_t address, uint32_t value);
bool putPointer(Machine& machine, uint64_t address, uint64_t value);
// A zero-terminated 8-bit text of at most size bytes with its end.
bool guestText(Machine& machine, uint64_t address, char* into, size_t size);
// Changes code as a faulty build would have it, dropping what the emulator
// translated of the old bytes.
bool patch(Machine& machine, uint64_t address, const uint8_t* bytes, size_t size);

// ---- Inside a call of the system: after the stub's "int", before its return

// The caller's return address, and its argument i (0-based) as the
// convention passes it (on x64 always the one convention).
uint64_t callerAddress(Machine& machine);
uint64_t argument(Machine& machine, Convention convention, int index);
// The bytes of arguments the callee removes from the stack.
uint16_t removedBytes(const Machine& machine, Convention convention, int arguments);
// The function's result: eax (with edx for a 64-bit one on i386) or rax; the
// registers a caller may not count on are scrambled.
void setResult(Machine& machine, uint64_t value, bool wide);
// x64: the caller's stack must be 16-byte aligned at the call and hold 32
// bytes of shadow space below limit (the stack pointer the guest was entered
// with); the callee may use that space, and this one does. A breach names the
// function otherwise.
void checkCallerStack(Machine& machine, const char* function, uint64_t limit);

// ---- Calling into the guest ------------------------------------------------

constexpr int MaxGuestArguments = 8;

struct GuestCall {
    uint64_t entry;
    const uint64_t* arguments;
    int count; // at most MaxGuestArguments
    const char* name;
    uint64_t stackTop;      // of the guest's stack
    uint64_t returnAddress; // where the emulation stops: it holds a hlt
    uint64_t* entryStack;   // set before the callee runs: the stack pointer it starts with
};

// Runs the guest function as the system calls one: the arguments as the
// guest's convention passes them, and registers the callee must keep.
// Afterwards the callee must have run to its return, removed exactly its
// arguments (i386) or left the stack as it found it (x64), and kept the
// caller's registers; a breach says otherwise. The result is eax or rax (0
// after a breach).
uint64_t callGuest(Machine& machine, GuestCall& call);

} // namespace Emulator

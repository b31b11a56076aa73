// The shipped 2KZQ4810.dll in the emulator, as a process of its own: its
// sections mapped at their addresses, its imports bound to this program's
// simulated platform (the table of imports.cpp) (its device imports, on request, to the
// emulated kernel), and each export called with the system's calling
// convention. The 32-bit DLL runs in 32-bit mode, the 64-bit one in 64-bit
// mode.
//
// On every call the loader holds the DLL to what a well-behaved Windows DLL
// does: it removes exactly its own arguments (i386) or leaves the stack as it
// found it, keeps the registers the caller owns, calls the system with the
// stack aligned (x64), runs no code but its own and its imports', and
// writes only its own data sections and the stack (rules.h). A breach is a
// test failure naming the address and the instruction.
#pragma once

#include "emulator/rules.h"
#include "platform/win32.h"
#include "zq4810/export_table.h"

#include <stddef.h>
#include <stdint.h>

namespace Emulator {

// The exports, from the one list of them (api/2KZQ4810.def), in its order:
// index = ordinal - 1.
struct ExportInfo {
    const char* name;
    int ordinal;
    int arguments; // 32-bit arguments the export takes
};
#define ZQ4810_EXPORT_INFO(name, ordinal, arguments) {name, ordinal, arguments},
constexpr ExportInfo Exports[] = {ZQ4810_EXPORTS(ZQ4810_EXPORT_INFO)};
#undef ZQ4810_EXPORT_INFO
constexpr int ExportCount = sizeof Exports / sizeof Exports[0];
constexpr bool inOrdinalOrder()
{
    for (int i = 0; i < ExportCount; ++i) {
        if (Exports[i].ordinal != i + 1) {
            return false;
        }
    }
    return true;
}
static_assert(inOrdinalOrder(), "the .def lists the exports by ordinal, from 1");

// Maps the DLL at base (0: the base it asks for, relocating only if that
// cannot be had) and binds its imports; the file's machine picks the mode.
// False with a one-line reason in error() when the file is not a PE32 i386
// or PE32+ x86-64 DLL, imports anything the process does not have, or lacks
// an export.
bool load(const char* path, uint64_t base = 0);
void unload();
const char* error();
// Where the image lies, whether the loader had to move it, and its width.
uint64_t imageBase();
bool relocated();
int bits();

// Calls export index (0-based) with these arguments and returns its result.
// A breach of the rules above ends the call; breach() then says what it was
// and the result is 0.
int32_t call(int index, const int32_t* arguments, int count);
// Maps a program that imports from the DLL alone beside it, binds its imports
// to the DLL's exports and runs it from its entry point (given one argument,
// as a program without a C runtime is): false with error() when it cannot be
// run, else its exit code, with breach() as for a call. Load the DLL again
// before running another.
bool runProgram(const char* path, int32_t* exitCode);
// The breach of the last call, or "" when it kept every rule; the rule.
const char* breach();
Rule breachedRule();
// What a program does with a breach of a call made through the exports
// (tests/emulator/exports.cpp): defined by each program.
void reportBreach(const char* breach);

// Where the DLL's three device imports go: the simulated platform's device
// (the default, and after null), or another device with the same functions,
// such as the emulated kernel's I/O manager.
struct DeviceFunctions {
    CreateFileAFunction* createFile;
    DeviceIoControlFunction* control;
    CloseHandleFunction* close;
};
void bindDevice(const DeviceFunctions* device);

// Counting instructions executed inside the DLL (not those of the import
// stubs), for the benchmarks. Counting slows the emulator down.
void countInstructions(bool on);
uint64_t instructions();

// For the loader's own tests: the address of an export, and a way to change
// the image's bytes as a faulty DLL would have them (load() again restores).
uint64_t exportAddress(int index);
// The import address table's slot of one of the DLL's imports, or 0.
uint64_t importSlot(const char* name);
bool readGuest(uint64_t address, void* into, size_t size);
bool patch(uint64_t address, const uint8_t* bytes, size_t size);

} // namespace Emulator

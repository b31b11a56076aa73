// The system around a guest (the DLL's process, or the kernel around a
// driver): the functions the guest may import, one table row each, bound to
// its imports by one binder and served by one dispatcher; the hooks that
// hold the guest to the rules every guest keeps; and the system's calls into
// the guest.
//
// Each imported function has a stub in a page of its own: "int 0x80" and a
// return that removes what the convention says. The interrupt tells the
// dispatcher which function was called; it reads the arguments as the
// convention passes them and hands them to the row's handler, whose result
// the stub returns.
#pragma once

#include "emulator/image.h"

#include <cstring>

namespace Emulator {

using Handler = uint64_t (*)(const uint64_t* values);

// Which binaries import a function (both widths', or one width's only), and
// whether its result is 64 bits wide (edx:eax on i386).
enum FunctionOptions : unsigned { BothWidths = 0, OnlyI386 = 1, OnlyX64 = 2, WideResult = 4 };

struct SystemFunction {
    const char* library;
    const char* name;
    Convention convention; // on i386; x64 has one
    int arguments;
    Handler handler;
    unsigned options;
};

constexpr int MaxArguments = 9;

// A handler takes its arguments as a structure of 64-bit fields named as
// the function's parameters, in their order: the row's argument count is
// that structure's.
template <typename Arguments, uint64_t (*serve)(const Arguments&)>
uint64_t unpack(const uint64_t* values)
{
    Arguments arguments;
    std::memcpy(&arguments, values, sizeof arguments);
    return serve(arguments);
}

template <typename Arguments, uint64_t (*serve)(const Arguments&)>
constexpr SystemFunction function(const char* library, const char* name, Convention convention = Convention::Stdcall,
                                  unsigned options = BothWidths)
{
    static_assert(sizeof(Arguments) % sizeof(uint64_t) == 0 && sizeof(Arguments) <= MaxArguments * sizeof(uint64_t),
                  "a function's arguments are at most MaxArguments 64-bit fields");
    return {library, name, convention, static_cast<int>(sizeof(Arguments) / sizeof(uint64_t)),
            unpack<Arguments, serve>, options};
}

struct FunctionTable {
    const SystemFunction* rows;
    int count;
};

template <size_t N>
constexpr FunctionTable tableOf(const SystemFunction (&rows)[N]) { return {rows, static_cast<int>(N)}; }

constexpr int MaxFunctions = 64;
constexpr int MaxImages = 2;

struct System {
    Machine machine;
    const char* guest = "";  // who calls: "the DLL", "the driver"
    const char* host = "";   // who serves, for a refused import: "this process", "this kernel"
    const SystemFunction* functions[MaxFunctions] = {};
    int functionCount = 0;
    uint64_t slots[MaxFunctions] = {}; // where the guest's import table holds each; 0 when not imported
    uint64_t stubBase = 0;
    uint64_t stackTop = 0;
    const Image* images[MaxImages] = {}; // the guest's code
    // The writes the guest may make; a write hook that refuses one breaches.
    bool (*mayWrite)(uint64_t address, uint64_t size) = nullptr;
    uint64_t entryStack = 0;                  // the stack pointer the running call of the guest started with
    const SystemFunction* current = nullptr;  // the function being served
    uint64_t caller = 0;                      // and the address its call returns to
};

// Opens the machine of this width with the tables' functions, their stubs
// at stubBase, and a stack: false when the emulator cannot.
bool openSystem(System& system, int bits, const FunctionTable* tables, int tableCount, uint64_t stubBase,
                uint64_t stackBase, uint64_t stackSize);
// Points every import of the image at its function's stub; false with a
// one-line reason at an import this system does not have.
bool bindImports(System& system, const Image& image, const char* path, Error& error);
// The hooks: the dispatcher, code and memory outside the guest's, writes
// mayWrite refuses.
bool watch(System& system);

// Calls the guest's function at entry (see callGuest).
uint64_t callGuest(System& system, uint64_t entry, const uint64_t* arguments, int count, const char* name);
// An address in the stub page that halts, for routines the system leaves
// unset.
uint64_t haltAddress(const System& system);

// "ZQ4810.sys+0x1234 (8b 45 08 00)", or the bare address outside the
// guest's images; a few at once, for a message that names two places.
const char* where(System& system, uint64_t address);
// "the instruction at ..." and, inside a function, "the call returning to ...".
const char* instructionText(System& system);
const char* callText(System& system);

// The import table's slot of a function the guest imports, or 0.
uint64_t importSlot(const System& system, const char* name);

} // namespace Emulator

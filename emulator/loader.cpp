// The DLL's process in the emulator (see loader.h).
#include "emulator/loader.h"

#include "emulator/coverage.h"
#include "emulator/image.h"
#include "emulator/imports.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Emulator {
namespace {

// The process's address space besides the image: the import stubs with the
// return address every call of an export comes back to, and a stack.
constexpr uint64_t StubBase = 0x00010000, StackBase = 0x00100000, StackSize = 0x00040000;

// The process: its machine with the functions it serves, the DLL, and a
// program beside it.
struct State {
    System system;
    Image dll;
    Image program; // or none
    uint64_t exports[ExportCount] = {};
    uc_hook counter = 0;
    uint64_t instructions = 0;
    Error error;
};

State state;

void onCode(uc_engine*, uint64_t, uint32_t, void*) { ++state.instructions; }

// A program's imports: only the DLL's exports, by name, as the import
// library names them.
bool bindProgramImport(void* path, const Import& import)
{
    if (strcasecmp(import.library, "2KZQ4810.dll") != 0) {
        return fail(state.error, "%s: imports from %s; only a program that imports from the DLL alone runs here",
                    static_cast<const char*>(path), import.library);
    }
    for (int k = 0; k < ExportCount; ++k) {
        if (import.name != nullptr && std::strcmp(Exports[k].name, import.name) == 0) {
            return putPointer(state.system.machine, import.slot, state.exports[k]);
        }
    }
    return fail(state.error, "%s: imports %s, which the DLL does not export", static_cast<const char*>(path),
                import.name != nullptr ? import.name : "an ordinal");
}

bool findExports(const char* path)
{
    for (int k = 0; k < ExportCount; ++k) {
        state.exports[k] = findExport(state.system.machine, state.dll, Exports[k].name);
        if (state.exports[k] == 0) {
            return fail(state.error, "%s: does not export %s", path, Exports[k].name);
        }
    }
    return true;
}

// Leaves nothing loaded but the reason why.
bool abandon()
{
    const Error reason = state.error;
    unload();
    state.error = reason;
    return false;
}

int32_t runAt(uint64_t entry, const char* name, const int32_t* arguments, int count)
{
    uint64_t wide[MaxGuestArguments] = {};
    for (int i = 0; i < count && i < MaxGuestArguments; ++i) {
        wide[i] = static_cast<uint64_t>(static_cast<int64_t>(arguments[i]));
    }
    clearBreach(state.system.machine);
    return static_cast<int32_t>(static_cast<uint32_t>(callGuest(state.system, entry, wide, count, name)));
}

} // namespace

System& process() { return state.system; }

bool guestMayWrite(uint64_t address, uint64_t size)
{
    return inside(state.dll.writable, state.dll.writableCount, address, size) ||
           inside(state.program.writable, state.program.writableCount, address, size) ||
           (address >= StackBase && address + size <= StackBase + StackSize);
}

bool load(const char* path, uint64_t base)
{
    unload();
    System& system = state.system;
    system.guest = "the DLL";
    system.host = "this process";
    system.images[0] = &state.dll;
    system.images[1] = &state.program;
    system.mayWrite = guestMayWrite;
    if (!openSystem(system, imageBits(path) == 64 ? 64 : 32, &Imports, 1, StubBase, StackBase, StackSize)) {
        fail(state.error, "%s: the emulator cannot start", path);
        return abandon();
    }
    if (!mapImage(system.machine, path, ImageKind::Dll, base, state.dll, state.error) ||
        !bindImports(system, state.dll, path, state.error) || !findExports(path)) {
        return abandon();
    }
    if (directory(system.machine, state.dll, Directory::ImportTable).begin == 0) {
        fail(state.error, "%s: imports nothing", path);
        return abandon();
    }
    if (!watch(system)) {
        fail(state.error, "%s: the emulator cannot watch the DLL", path);
        return abandon();
    }
    cover(system.machine, state.dll, path);
    return true;
}

void unload()
{
    close(state.system.machine);
    state = State{};
}

const char* error() { return state.error.text; }

uint64_t imageBase() { return state.dll.base; }

bool relocated() { return state.dll.base != state.dll.preferred; }

int bits() { return state.system.machine.bits; }

int32_t call(int index, const int32_t* arguments, int count)
{
    if (state.system.machine.uc == nullptr || index < 0 || index >= ExportCount) {
        breach(state.system.machine, Rule::None, "export %d called with no DLL loaded", index);
        return 0;
    }
    return runAt(state.exports[index], Exports[index].name, arguments, count);
}

bool runProgram(const char* path, int32_t* exitCode)
{
    Machine& machine = state.system.machine;
    clearBreach(machine);
    if (machine.uc == nullptr) {
        return fail(state.error, "%s: no DLL loaded", path);
    }
    if (!mapImage(machine, path, ImageKind::Program, 0, state.program, state.error) ||
        !forEachImport(machine, state.program, bindProgramImport, const_cast<char*>(path), path, state.error)) {
        return false;
    }
    // The process starts at the entry point, which is given one argument and
    // whose result is the exit code.
    const int32_t environment = 0;
    *exitCode = runAt(state.program.base + state.program.entry, path, &environment, 1);
    return true;
}

const char* breach() { return state.system.machine.breach; }

Rule breachedRule() { return state.system.machine.rule; }

void countInstructions(bool on)
{
    uc_engine* uc = state.system.machine.uc;
    if (uc == nullptr) {
        return;
    }
    if (on && state.counter == 0 && state.dll.codeCount > 0) {
        const Range code = state.dll.code[0];
        uc_hook_add(uc, &state.counter, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), nullptr, code.begin,
                    code.end - 1);
        // Code already translated would run on uncounted.
        uc_ctl_remove_cache(uc, code.begin, code.end);
    } else if (!on && state.counter != 0) {
        uc_hook_del(uc, state.counter);
        state.counter = 0;
    }
}

uint64_t instructions() { return state.instructions; }

uint64_t exportAddress(int index) { return index >= 0 && index < ExportCount ? state.exports[index] : 0; }

uint64_t importSlot(const char* name) { return importSlot(state.system, name); }

bool readGuest(uint64_t address, void* into, size_t size)
{
    return readGuest(state.system.machine, address, into, size);
}

bool patch(uint64_t address, const uint8_t* bytes, size_t size)
{
    return patch(state.system.machine, address, bytes, size);
}

} // namespace Emulator

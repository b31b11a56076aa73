// The DLL's process in the emulator (see loader.h).
#include "emulator/loader.h"

#include "emulator/image.h"
#include "emulator/imports.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Emulator {
namespace {

// The process's address space besides the image: the import stubs with the
// return address every call of an export comes back to, and a stack.
constexpr uint64_t StubBase = 0x00010000;
constexpr uint64_t StackBase = 0x00100000;
constexpr uint64_t StackSize = 0x00040000;
constexpr uint64_t StackTop = StackBase + StackSize - 64;

struct State {
    Machine machine;
    Image dll;
    Image program; // a program run beside the DLL, or none
    uint64_t exports[ExportCount] = {};
    uint64_t slots[ImportCount] = {};
    uint64_t entryStack = 0; // the stack pointer the running export started with
    uc_hook counter = 0;
    uint64_t instructions = 0;
    Error error;
};

State state;

bool inCode(uint64_t address)
{
    return inside(state.dll.code, state.dll.codeCount, address, 1) ||
           inside(state.program.code, state.program.codeCount, address, 1);
}

void onWrite(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void*)
{
    if (guestMayWrite(address, static_cast<uint64_t>(size))) {
        return;
    }
    char instruction[128];
    describeInstruction(state.machine, state.dll.base, state.dll.size, instruction, sizeof instruction);
    breach(state.machine, "stray write of %d bytes at 0x%0*llx by the %s", size, state.machine.bits / 4,
           static_cast<unsigned long long>(address), instruction);
}

bool onInvalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void*)
{
    const int digits = state.machine.bits / 4;
    if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
        breach(state.machine, "code run at 0x%0*llx, outside the DLL and its nine imports", digits,
               static_cast<unsigned long long>(address));
        return false;
    }
    const char* what = type == UC_MEM_READ_UNMAPPED || type == UC_MEM_READ_PROT ? "read" : "write";
    char instruction[128];
    describeInstruction(state.machine, state.dll.base, state.dll.size, instruction, sizeof instruction);
    breach(state.machine, "%s of %d bytes at 0x%0*llx by the %s", what, size, digits,
           static_cast<unsigned long long>(address), instruction);
    return false;
}

// An import stub ran its INT: serve the import, whose address tells which;
// the stub's return then removes the arguments as the system's function
// would.
void onInterrupt(uc_engine*, uint32_t number, void*)
{
    Machine& machine = state.machine;
    const int index = stubIndex(machine, StubBase, ImportCount);
    if (number != 0x80 || index < 0) {
        char instruction[128];
        describeInstruction(machine, state.dll.base, state.dll.size, instruction, sizeof instruction);
        breach(machine, "interrupt 0x%x by the %s", number, instruction);
        return;
    }
    const ImportFunction& import = Imports[index];
    const uint64_t caller = callerAddress(machine);
    if (!inCode(caller)) {
        breach(machine, "%s called from 0x%0*llx, outside the DLL's code", import.name, machine.bits / 4,
               static_cast<unsigned long long>(caller));
        return;
    }
    checkCallerStack(machine, import.name, state.entryStack);
    if (breached(machine)) {
        return;
    }
    uint64_t arguments[MaxImportArguments] = {};
    for (int i = 0; i < import.arguments; ++i) {
        arguments[i] = argument(machine, machine.bits == 64 ? Convention::Microsoft : Convention::Stdcall, i);
    }
    char problem[200] = "";
    const uint64_t result = import.serve(machine, arguments, problem, sizeof problem);
    if (problem[0] != '\0') {
        breach(machine, "%s called from 0x%0*llx: %s", import.name, machine.bits / 4,
               static_cast<unsigned long long>(caller), problem);
        return;
    }
    setResult(machine, result);
}

void onCode(uc_engine*, uint64_t, uint32_t, void*)
{
    ++state.instructions;
}

struct Binding {
    const char* path;
};

bool bindImport(void* context, const Import& import)
{
    const char* path = static_cast<Binding*>(context)->path;
    if (import.name == nullptr) {
        return fail(state.error, "%s: imports ordinal %u from %s, not one of the nine functions", path,
                              import.ordinal, import.library);
    }
    for (int k = 0; k < ImportCount; ++k) {
        if (strcasecmp(Imports[k].library, import.library) == 0 && std::strcmp(Imports[k].name, import.name) == 0) {
            state.slots[k] = import.slot;
            return putPointer(state.machine, import.slot, StubBase + StubStride * static_cast<uint64_t>(k));
        }
    }
    return fail(state.error, "%s: imports %s!%s, not one of the nine functions", path, import.library,
                          import.name);
}

// A program's imports: only the DLL's exports, by name, as the import
// library names them.
bool bindProgramImport(void* context, const Import& import)
{
    const char* path = static_cast<Binding*>(context)->path;
    if (strcasecmp(import.library, "2KZQ4810.dll") != 0) {
        return fail(state.error,
                              "%s: imports from %s; only a program that imports from the DLL alone runs here", path,
                              import.library);
    }
    for (int k = 0; k < ExportCount; ++k) {
        if (import.name != nullptr && std::strcmp(Exports[k].name, import.name) == 0) {
            return putPointer(state.machine, import.slot, state.exports[k]);
        }
    }
    return fail(state.error, "%s: imports %s, which the DLL does not export", path,
                          import.name != nullptr ? import.name : "an ordinal");
}

bool findExports(const char* path)
{
    for (int k = 0; k < ExportCount; ++k) {
        state.exports[k] = findExport(state.machine, state.dll, Exports[k].name);
        if (state.exports[k] == 0) {
            return fail(state.error, "%s: does not export %s", path, Exports[k].name);
        }
    }
    return true;
}

bool mapProcess()
{
    uint16_t removed[ImportCount];
    for (int k = 0; k < ImportCount; ++k) {
        removed[k] = static_cast<uint16_t>(4 * Imports[k].arguments);
    }
    return mapStubs(state.machine, StubBase, removed, ImportCount) &&
           uc_mem_map(state.machine.uc, StackBase, StackSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK;
}

bool watch()
{
    uc_hook hook;
    uc_engine* uc = state.machine.uc;
    return uc_hook_add(uc, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onWrite), nullptr, 1, 0) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(onInvalid), nullptr, 1, 0) ==
               UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), nullptr, 1, 0) == UC_ERR_OK;
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
    uint64_t wide[8] = {};
    for (int i = 0; i < count && i < 8; ++i) {
        wide[i] = static_cast<uint64_t>(static_cast<int64_t>(arguments[i]));
    }
    clearBreach(state.machine);
    const uint64_t result = callGuest(state.machine, entry, wide, count, name, StackTop, StubBase, &state.entryStack);
    return static_cast<int32_t>(static_cast<uint32_t>(result));
}

} // namespace

bool guestMayWrite(uint64_t address, uint64_t size)
{
    return inside(state.dll.writable, state.dll.writableCount, address, size) ||
           inside(state.program.writable, state.program.writableCount, address, size) ||
           (address >= StackBase && address + size <= StackBase + StackSize);
}

bool load(const char* path, uint64_t base)
{
    unload();
    const int width = imageBits(path);
    if (!open(state.machine, width == 64 ? 64 : 32)) {
        return fail(state.error, "%s: the emulator cannot start", path);
    }
    if (!mapProcess()) {
        fail(state.error, "%s: the emulator cannot map its stack", path);
        return abandon();
    }
    Binding binding{path};
    if (!mapImage(state.machine, path, ImageKind::Dll, base, state.dll, state.error) ||
        !forEachImport(state.machine, state.dll, bindImport, &binding, path, state.error) || !findExports(path)) {
        return abandon();
    }
    if (directory(state.machine, state.dll, 1).begin == 0) {
        fail(state.error, "%s: imports nothing", path);
        return abandon();
    }
    if (!watch()) {
        fail(state.error, "%s: the emulator cannot watch the DLL", path);
        return abandon();
    }
    return true;
}

void unload()
{
    close(state.machine);
    state = State{};
}

const char* error()
{
    return state.error.text;
}

uint64_t imageBase()
{
    return state.dll.base;
}

bool relocated()
{
    return state.dll.base != state.dll.preferred;
}

int bits()
{
    return state.machine.bits;
}

int32_t call(int index, const int32_t* arguments, int count)
{
    if (state.machine.uc == nullptr || index < 0 || index >= ExportCount) {
        std::snprintf(state.machine.breach, sizeof state.machine.breach, "export %d called with no DLL loaded", index);
        return 0;
    }
    return runAt(state.exports[index], Exports[index].name, arguments, count);
}

bool runProgram(const char* path, int32_t* exitCode)
{
    clearBreach(state.machine);
    if (state.machine.uc == nullptr) {
        return fail(state.error, "%s: no DLL loaded", path);
    }
    Binding binding{path};
    if (!mapImage(state.machine, path, ImageKind::Program, 0, state.program, state.error) ||
        !forEachImport(state.machine, state.program, bindProgramImport, &binding, path, state.error)) {
        return false;
    }
    // The process starts at the entry point, which is given one argument and
    // whose result is the exit code.
    const int32_t environment = 0;
    *exitCode = runAt(state.program.base + state.program.entry, path, &environment, 1);
    return true;
}

const char* breach()
{
    return state.machine.breach;
}

void countInstructions(bool on)
{
    if (state.machine.uc == nullptr) {
        return;
    }
    if (on && state.counter == 0 && state.dll.codeCount > 0) {
        const Range code = state.dll.code[0];
        uc_hook_add(state.machine.uc, &state.counter, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), nullptr,
                    code.begin, code.end - 1);
        // Code already translated would run on uncounted.
        uc_ctl_remove_cache(state.machine.uc, code.begin, code.end);
    } else if (!on && state.counter != 0) {
        uc_hook_del(state.machine.uc, state.counter);
        state.counter = 0;
    }
}

uint64_t instructions()
{
    return state.instructions;
}

uint64_t exportAddress(int index)
{
    return index >= 0 && index < ExportCount ? state.exports[index] : 0;
}

uint64_t importSlot(const char* name)
{
    for (int k = 0; k < ImportCount; ++k) {
        if (std::strcmp(Imports[k].name, name) == 0) {
            return state.slots[k];
        }
    }
    return 0;
}

bool readGuest(uint64_t address, void* into, size_t size)
{
    return Emulator::readGuest(state.machine, address, into, size);
}

bool patch(uint64_t address, const uint8_t* bytes, size_t size)
{
    if (!writeGuest(state.machine, address, bytes, size)) {
        return false;
    }
    // The emulator may have translated the old bytes already.
    uc_ctl_remove_cache(state.machine.uc, address, address + size);
    return true;
}

} // namespace Emulator

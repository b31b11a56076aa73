// The system's side of a guest's calls (see system.h).
#include "emulator/system.h"

#include <cstdio>
#include <strings.h>

namespace Emulator {
namespace {

constexpr uint64_t StubStride = 8;
constexpr uint64_t StubPageSize = 0x1000;
constexpr uint64_t HaltOffset = 0xE00;   // in the stub page
constexpr uint64_t ReturnOffset = 0xF00; // the return address of every call into the guest
constexpr uint8_t Halt = 0xF4;
static_assert(MaxFunctions * StubStride <= HaltOffset, "the stubs fit below the page's own addresses");

bool bothWidthsOr(const SystemFunction& function, int bits)
{
    return (function.options & (bits == 64 ? OnlyI386 : OnlyX64)) == 0;
}

bool mapStubs(System& system)
{
    uint8_t stubs[StubPageSize];
    std::memset(stubs, Halt, sizeof stubs);
    for (int k = 0; k < system.functionCount; ++k) {
        const SystemFunction& function = *system.functions[k];
        const uint16_t removed = removedBytes(system.machine, function.convention, function.arguments);
        const uint8_t code[] = {0xCD, 0x80, 0xC2, static_cast<uint8_t>(removed), static_cast<uint8_t>(removed >> 8)};
        std::memcpy(stubs + StubStride * static_cast<uint64_t>(k), code, sizeof code);
    }
    return uc_mem_map(system.machine.uc, system.stubBase, StubPageSize, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK &&
           writeGuest(system.machine, system.stubBase, stubs, sizeof stubs);
}

bool inCode(const System& system, uint64_t address)
{
    for (const Image* image : system.images) {
        if (image != nullptr && inside(image->code, image->codeCount, address, 1)) {
            return true;
        }
    }
    return false;
}

struct Binding {
    System& system;
    const char* path;
    Error& error;
};

bool bind(void* context, const Import& import)
{
    Binding& binding = *static_cast<Binding*>(context);
    System& system = binding.system;
    if (import.name == nullptr) {
        return fail(binding.error, "%s: imports ordinal %u from %s; %s binds names", binding.path, import.ordinal,
                    import.library, system.host);
    }
    for (int k = 0; k < system.functionCount; ++k) {
        const SystemFunction& function = *system.functions[k];
        if (bothWidthsOr(function, system.machine.bits) && strcasecmp(function.library, import.library) == 0 &&
            std::strcmp(function.name, import.name) == 0) {
            system.slots[k] = import.slot;
            return putPointer(system.machine, import.slot, system.stubBase + StubStride * static_cast<uint64_t>(k));
        }
    }
    return fail(binding.error, "%s: imports %s!%s, which %s does not have", binding.path, import.library, import.name,
                system.host);
}

// ---- The hooks ---------------------------------------------------------------

// A stub ran its interrupt: serve the function whose stub it is; the stub's
// return then removes the arguments as the system's function would.
void onInterrupt(uc_engine*, uint32_t number, void* user)
{
    System& system = *static_cast<System*>(user);
    Machine& machine = system.machine;
    const uint64_t at = instructionPointer(machine) - 2; // after "int 0x80"
    const uint64_t index = (at - system.stubBase) / StubStride;
    if (number != 0x80 || at < system.stubBase || (at - system.stubBase) % StubStride != 0 ||
        index >= static_cast<uint64_t>(system.functionCount)) {
        breach(machine, Rule::Interrupt, "interrupt 0x%x by %s", number, instructionText(system));
        return;
    }
    const SystemFunction& function = *system.functions[index];
    const uint64_t caller = callerAddress(machine);
    if (!inCode(system, caller)) {
        breach(machine, Rule::CallerOutside, "%s called from 0x%llx, outside %s's code", function.name,
               static_cast<unsigned long long>(caller), system.guest);
        return;
    }
    checkCallerStack(machine, function.name, system.entryStack);
    if (breached(machine)) {
        return;
    }
    uint64_t values[MaxArguments] = {};
    for (int i = 0; i < function.arguments; ++i) {
        values[i] = argument(machine, function.convention, i);
    }
    system.current = &function;
    system.caller = caller;
    const uint64_t result = function.handler(values);
    if (!breached(machine)) {
        setResult(machine, result, (function.options & WideResult) != 0);
    }
}

bool onInvalid(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user)
{
    System& system = *static_cast<System*>(user);
    if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
        breach(system.machine, Rule::CodeOutside, "code run at 0x%llx, outside %s and the system's functions",
               static_cast<unsigned long long>(address), system.guest);
        return false;
    }
    const bool read = type == UC_MEM_READ_UNMAPPED || type == UC_MEM_READ_PROT;
    breach(system.machine, Rule::UnmappedAccess, "%s of %d bytes at 0x%llx by %s", read ? "read" : "write", size,
           static_cast<unsigned long long>(address), instructionText(system));
    return false;
}

void onWrite(uc_engine*, uc_mem_type, uint64_t address, int size, int64_t, void* user)
{
    System& system = *static_cast<System*>(user);
    if (!system.mayWrite(address, static_cast<uint64_t>(size))) {
        breach(system.machine, Rule::StrayWrite, "stray write of %d bytes at 0x%llx by %s", size,
               static_cast<unsigned long long>(address), instructionText(system));
    }
}

} // namespace

bool openSystem(System& system, int bits, const FunctionTable* tables, int tableCount, uint64_t stubBase,
                uint64_t stackBase, uint64_t stackSize)
{
    system.functionCount = 0;
    for (int t = 0; t < tableCount; ++t) {
        for (int k = 0; k < tables[t].count && system.functionCount < MaxFunctions; ++k) {
            system.functions[system.functionCount++] = &tables[t].rows[k];
        }
    }
    system.stubBase = stubBase;
    system.stackTop = stackBase + stackSize - 64;
    return open(system.machine, bits) && mapStubs(system) &&
           uc_mem_map(system.machine.uc, stackBase, stackSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK;
}

bool bindImports(System& system, const Image& image, const char* path, Error& error)
{
    Binding binding{system, path, error};
    return forEachImport(system.machine, image, bind, &binding, path, error);
}

bool watch(System& system)
{
    uc_hook hook;
    uc_engine* uc = system.machine.uc;
    return uc_hook_add(uc, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onWrite), &system, 1, 0) == UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(onInvalid), &system, 1, 0) ==
               UC_ERR_OK &&
           uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), &system, 1, 0) == UC_ERR_OK;
}

uint64_t callGuest(System& system, uint64_t entry, const uint64_t* arguments, int count, const char* name)
{
    GuestCall call{entry, arguments, count, name, system.stackTop, system.stubBase + ReturnOffset, &system.entryStack};
    return callGuest(system.machine, call);
}

uint64_t haltAddress(const System& system) { return system.stubBase + HaltOffset; }

const char* where(System& system, uint64_t address)
{
    static char texts[4][80];
    static int next;
    char* text = texts[next++ % 4];
    for (const Image* image : system.images) {
        if (image != nullptr && address >= image->base && address < image->base + image->size) {
            uint8_t bytes[4] = {};
            readGuest(system.machine, address, bytes, sizeof bytes);
            std::snprintf(text, sizeof texts[0], "%s+0x%llx (%02x %02x %02x %02x)", image->name,
                          static_cast<unsigned long long>(address - image->base), bytes[0], bytes[1], bytes[2],
                          bytes[3]);
            return text;
        }
    }
    std::snprintf(text, sizeof texts[0], "0x%llx", static_cast<unsigned long long>(address));
    return text;
}

const char* instructionText(System& system)
{
    static char text[112];
    std::snprintf(text, sizeof text, "the instruction at %s", where(system, instructionPointer(system.machine)));
    return text;
}

const char* callText(System& system)
{
    static char text[112];
    std::snprintf(text, sizeof text, "the call returning to %s", where(system, system.caller));
    return text;
}

uint64_t importSlot(const System& system, const char* name)
{
    for (int k = 0; k < system.functionCount; ++k) {
        if (std::strcmp(system.functions[k]->name, name) == 0 && system.slots[k] != 0) {
            return system.slots[k];
        }
    }
    return 0;
}

} // namespace Emulator

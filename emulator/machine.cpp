// The emulated processor and the calling conventions (see machine.h).
#include "emulator/machine.h"

#include "emulator/coverage.h"

#include <cstdio>
#include <cstring>

namespace Emulator {
namespace {

// What the caller's registers hold across a call, so that a callee that does
// not keep them is seen.
constexpr uint64_t Kept[] = {0xB0B0B0B0B0B0B0B0, 0x5151515151515151, 0xD1D1D1D1D1D1D1D1, 0xBEBEBEBEBEBEBEBE,
                             0x1212121212121212, 0x1313131313131313, 0x1414141414141414, 0x1515151515151515};
// What a system function leaves in the registers its caller may not count on.
constexpr uint64_t Scratch = 0xDEADBEEFDEADBEEF;
constexpr uint64_t DirectionClear = 0x202; // the flags the system promises at a call

constexpr int Kept32[] = {UC_X86_REG_EBX, UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP};
constexpr const char* KeptNames32[] = {"ebx", "esi", "edi", "ebp"};
constexpr int Scratch32[] = {UC_X86_REG_ECX, UC_X86_REG_EDX};
constexpr int Kept64[] = {UC_X86_REG_RBX, UC_X86_REG_RSI, UC_X86_REG_RDI, UC_X86_REG_RBP,
                          UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15};
constexpr const char* KeptNames64[] = {"rbx", "rsi", "rdi", "rbp", "r12", "r13", "r14", "r15"};
constexpr int Scratch64[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8,
                             UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11};

constexpr Width I386 = {32, UC_MODE_32, 4, 0xFFFFFFFFu, UC_X86_REG_EIP, UC_X86_REG_ESP, UC_X86_REG_EFLAGS,
                        UC_X86_REG_EAX, UC_X86_REG_EDX, Kept32, KeptNames32, 4, Scratch32, 2,
                        Convention::Stdcall, 4};
constexpr Width X64 = {64, UC_MODE_64, 8, ~uint64_t{0}, UC_X86_REG_RIP, UC_X86_REG_RSP, UC_X86_REG_RFLAGS,
                       UC_X86_REG_RAX, -1, Kept64, KeptNames64, 8, Scratch64, 6,
                       Convention::Microsoft, 16};

// Where a convention passes its arguments: the first ones in registers, the
// rest on the stack above the return address and any shadow space.
struct ConventionRules {
    int registers[4];
    int registerCount;
    uint64_t shadowSpace;
    bool calleeRemoves;
};
constexpr ConventionRules Conventions[] = {
    {{}, 0, 0, true},                                                               // Stdcall
    {{}, 0, 0, false},                                                              // Cdecl
    {{UC_X86_REG_ECX, UC_X86_REG_EDX}, 2, 0, true},                                  // Fastcall
    {{UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9}, 4, 32, false}, // Microsoft
};

const ConventionRules& rulesOf(const Machine& machine, Convention convention)
{
    return Conventions[static_cast<int>(machine.width->own == Convention::Microsoft ? Convention::Microsoft : convention)];
}

void setReg(Machine& machine, int id, uint64_t value)
{
    const uint64_t narrowed = value & machine.width->mask; // a 32-bit register takes the low half
    uc_reg_write(machine.uc, id, &narrowed);
}

// ---- The steps of a call into the guest ----------------------------------------

// The return address and the arguments as the guest's convention passes
// them, every one in its slot above the return address (on x64 the first
// four also in registers, their slots the shadow space); the stack pointer
// the callee starts with.
uint64_t pushFrame(Machine& machine, const GuestCall& call)
{
    const Width& width = *machine.width;
    const ConventionRules& rules = rulesOf(machine, width.own);
    const uint64_t shadowSlots = rules.shadowSpace / width.pointer;
    const uint64_t count = static_cast<uint64_t>(call.count), slots = count > shadowSlots ? count : shadowSlots;
    const uint64_t sp = ((call.stackTop - width.pointer * slots) & ~(width.stackAlignment - 1)) - width.pointer;
    putPointer(machine, sp, call.returnAddress);
    for (int i = 0; i < call.count; ++i) {
        putPointer(machine, sp + width.pointer * static_cast<uint64_t>(1 + i), call.arguments[i]);
        if (i < rules.registerCount) {
            setReg(machine, rules.registers[i], call.arguments[i]);
        }
    }
    return sp;
}

void setCallerRegisters(Machine& machine, uint64_t sp)
{
    const Width& width = *machine.width;
    for (size_t i = 0; i < width.keptCount; ++i) {
        setReg(machine, width.kept[i], Kept[i]);
    }
    setReg(machine, width.sp, sp);
    setReg(machine, width.result, 0);
    setReg(machine, width.flags, DirectionClear);
}

bool ranToReturn(Machine& machine, const GuestCall& call, uc_err stopped)
{
    if (breached(machine)) {
        return false;
    }
    // The halt at the return address ran, and the emulation stopped after it.
    if (stopped == UC_ERR_OK && instructionPointer(machine) == call.returnAddress + 1) {
        return true;
    }
    uint8_t bytes[6] = {};
    const uint64_t at = instructionPointer(machine);
    readGuest(machine, at, bytes, sizeof bytes);
    breach(machine, Rule::RunsToReturn, "%s stopped (%s) at the instruction at 0x%llx (%02x %02x %02x %02x %02x %02x)",
           call.name, uc_strerror(stopped), static_cast<unsigned long long>(at), bytes[0], bytes[1], bytes[2],
           bytes[3], bytes[4], bytes[5]);
    return false;
}

bool stackBalanced(Machine& machine, const GuestCall& call)
{
    const uint64_t removes = removedBytes(machine, machine.width->own, call.count);
    const int64_t removed =
        static_cast<int64_t>(stackPointer(machine)) - static_cast<int64_t>(*call.entryStack + machine.width->pointer);
    if (removed != static_cast<int64_t>(removes)) {
        breach(machine, Rule::StackBalance, "%s removed %lld bytes of arguments from the stack, not %u", call.name,
               static_cast<long long>(removed), static_cast<unsigned>(removes));
        return false;
    }
    return true;
}

bool registersKept(Machine& machine, const GuestCall& call)
{
    const Width& width = *machine.width;
    char changed[160] = "";
    size_t length = 0;
    for (size_t i = 0; i < width.keptCount; ++i) {
        const uint64_t value = reg(machine, width.kept[i]);
        if (value != (Kept[i] & width.mask) && length < sizeof changed) {
            length += static_cast<size_t>(std::snprintf(changed + length, sizeof changed - length, " %s %0*llx",
                                                        width.keptNames[i], width.bits / 4,
                                                        static_cast<unsigned long long>(value)));
        }
    }
    if (changed[0] != '\0') {
        breach(machine, Rule::KeptRegisters, "%s did not keep the caller's registers (%s)", call.name, changed + 1);
        return false;
    }
    return true;
}

} // namespace

bool inside(const Range* ranges, size_t count, uint64_t address, uint64_t size)
{
    for (size_t i = 0; i < count; ++i) {
        if (address >= ranges[i].begin && address + size <= ranges[i].end) {
            return true;
        }
    }
    return false;
}

bool open(Machine& machine, int bits)
{
    close(machine);
    machine.width = bits == 64 ? &X64 : &I386;
    machine.bits = machine.width->bits;
    return uc_open(UC_ARCH_X86, machine.width->mode, &machine.uc) == UC_ERR_OK;
}

void close(Machine& machine)
{
    if (machine.uc != nullptr) {
        stopCovering(machine);
        uc_close(machine.uc);
    }
    machine = Machine{};
}

void breachV(Machine& machine, Rule rule, const char* format, va_list list)
{
    if (machine.breach[0] == '\0') {
        const int prefix =
            machine.context != nullptr ? std::snprintf(machine.breach, 96, "%.90s: ", machine.context()) : 0;
        std::vsnprintf(machine.breach + prefix, sizeof machine.breach - static_cast<size_t>(prefix), format, list);
        machine.rule = rule;
    }
    if (machine.uc != nullptr) {
        uc_emu_stop(machine.uc);
    }
}

void breach(Machine& machine, Rule rule, const char* format, ...)
{
    va_list list;
    va_start(list, format);
    breachV(machine, rule, format, list);
    va_end(list);
}

void clearBreach(Machine& machine)
{
    machine.breach[0] = '\0';
    machine.rule = Rule::None;
}

bool breached(const Machine& machine) { return machine.breach[0] != '\0'; }

uint64_t reg(Machine& machine, int id)
{
    uint64_t value = 0;
    uc_reg_read(machine.uc, id, &value);
    return value & machine.width->mask;
}

uint64_t instructionPointer(Machine& machine) { return reg(machine, machine.width->ip); }

uint64_t stackPointer(Machine& machine) { return reg(machine, machine.width->sp); }

bool readGuest(Machine& machine, uint64_t address, void* into, size_t size)
{
    return machine.uc != nullptr && uc_mem_read(machine.uc, address, into, size) == UC_ERR_OK;
}

bool writeGuest(Machine& machine, uint64_t address, const void* from, size_t size)
{
    return machine.uc != nullptr && uc_mem_write(machine.uc, address, from, size) == UC_ERR_OK;
}

namespace {

// Little-endian values of up to 8 bytes.
uint64_t readLittle(Machine& machine, uint64_t address, size_t size)
{
    uint8_t bytes[8] = {};
    readGuest(machine, address, bytes, size);
    uint64_t value = 0;
    for (size_t i = size; i > 0; --i) {
        value = value << 8 | bytes[i - 1];
    }
    return value;
}

bool writeLittle(Machine& machine, uint64_t address, uint64_t value, size_t size)
{
    uint8_t bytes[8];
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return writeGuest(machine, address, bytes, size);
}

} // namespace

uint16_t guest16(Machine& machine, uint64_t address) { return static_cast<uint16_t>(readLittle(machine, address, 2)); }

uint32_t guest32(Machine& machine, uint64_t address) { return static_cast<uint32_t>(readLittle(machine, address, 4)); }

uint64_t guestPointer(Machine& machine, uint64_t address)
{
    return readLittle(machine, address, machine.width->pointer);
}

void put8(Machine& machine, uint64_t address, uint8_t value) { writeGuest(machine, address, &value, 1); }

void put16(Machine& machine, uint64_t address, uint16_t value) { writeLittle(machine, address, value, 2); }

void put32(Machine& machine, uint64_t address, uint32_t value) { writeLittle(machine, address, value, 4); }

bool putPointer(Machine& machine, uint64_t address, uint64_t value)
{
    return writeLittle(machine, address, value, machine.width->pointer);
}

bool guestText(Machine& machine, uint64_t address, char* into, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (!readGuest(machine, address + i, into + i, 1)) {
            return false;
        }
        if (into[i] == '\0') {
            return true;
        }
    }
    return false;
}

bool patch(Machine& machine, uint64_t address, const uint8_t* bytes, size_t size)
{
    if (!writeGuest(machine, address, bytes, size)) {
        return false;
    }
    uc_ctl_remove_cache(machine.uc, address, address + size);
    stopCovering(machine); // the code is no longer the file's
    return true;
}

uint64_t callerAddress(Machine& machine) { return guestPointer(machine, stackPointer(machine)); }

uint64_t argument(Machine& machine, Convention convention, int index)
{
    const ConventionRules& rules = rulesOf(machine, convention);
    if (index < rules.registerCount) {
        return reg(machine, rules.registers[index]);
    }
    const uint64_t pointer = machine.width->pointer;
    return guestPointer(machine, stackPointer(machine) + pointer + rules.shadowSpace +
                                     pointer * static_cast<uint64_t>(index - rules.registerCount));
}

uint16_t removedBytes(const Machine& machine, Convention convention, int arguments)
{
    const ConventionRules& rules = rulesOf(machine, convention);
    const int onStack = arguments - rules.registerCount;
    return static_cast<uint16_t>(rules.calleeRemoves && onStack > 0 ? machine.width->pointer * static_cast<uint64_t>(onStack) : 0);
}

void setResult(Machine& machine, uint64_t value, bool wide)
{
    const Width& width = *machine.width;
    for (size_t i = 0; i < width.scratchCount; ++i) {
        setReg(machine, width.scratch[i], Scratch);
    }
    setReg(machine, width.result, value);
    if (wide && width.resultHigh >= 0) {
        setReg(machine, width.resultHigh, value >> 32);
    }
}

void checkCallerStack(Machine& machine, const char* function, uint64_t limit)
{
    const ConventionRules& rules = rulesOf(machine, machine.width->own);
    if (rules.shadowSpace == 0) {
        return; // i386 asks neither
    }
    const uint64_t atCall = stackPointer(machine) + machine.width->pointer;
    if (atCall % machine.width->stackAlignment != 0) {
        breach(machine, Rule::StackAlignment,
               "%s called from 0x%016llx with the stack not 16-byte aligned (rsp 0x%016llx at the call)", function,
               static_cast<unsigned long long>(callerAddress(machine)), static_cast<unsigned long long>(atCall));
        return;
    }
    if (atCall + rules.shadowSpace > limit) {
        breach(machine, Rule::ShadowSpace, "%s called from 0x%016llx without 32 bytes of shadow space", function,
               static_cast<unsigned long long>(callerAddress(machine)));
        return;
    }
    // The callee owns the shadow space: a caller that keeps anything there
    // loses it, as it would on Windows.
    uint8_t scribble[32];
    std::memset(scribble, 0xCC, sizeof scribble);
    writeGuest(machine, atCall, scribble, rules.shadowSpace);
}

uint64_t callGuest(Machine& machine, GuestCall& call)
{
    if (call.count > MaxGuestArguments) {
        call.count = MaxGuestArguments;
    }
    *call.entryStack = pushFrame(machine, call);
    setCallerRegisters(machine, *call.entryStack);
    // Stopped by the hlt at the return address, not by giving Unicorn that
    // address to stop at: Unicorn 2.0.1 keeps a little memory for every run
    // given one near the code it runs, which a fuzzer's millions of calls
    // make gigabytes. The address it is given is the last of the address
    // space, never mapped (0 would stop a jump to 0 without the fault).
    const uc_err stopped = uc_emu_start(machine.uc, call.entry, machine.width->mask, 0, 0);
    if (!ranToReturn(machine, call, stopped) || !stackBalanced(machine, call) || !registersKept(machine, call)) {
        return 0;
    }
    return reg(machine, machine.width->result);
}

} // namespace Emulator

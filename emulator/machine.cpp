// The emulated processor and the system's side of calls (see machine.h).
#include "emulator/machine.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Emulator {
namespace {

// What the caller's registers hold across a call, so that a callee that does
// not keep them is seen.
constexpr uint64_t Kept[] = {0xB0B0B0B0B0B0B0B0, 0x5151515151515151, 0xD1D1D1D1D1D1D1D1, 0xBEBEBEBEBEBEBEBE,
                             0x1212121212121212, 0x1313131313131313, 0x1414141414141414, 0x1515151515151515};
constexpr int Kept32[] = {UC_X86_REG_EBX, UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP};
constexpr int Kept64[] = {UC_X86_REG_RBX, UC_X86_REG_RSI, UC_X86_REG_RDI, UC_X86_REG_RBP,
                          UC_X86_REG_R12, UC_X86_REG_R13, UC_X86_REG_R14, UC_X86_REG_R15};
constexpr const char* KeptNames32[] = {"ebx", "esi", "edi", "ebp"};
constexpr const char* KeptNames64[] = {"rbx", "rsi", "rdi", "rbp", "r12", "r13", "r14", "r15"};
// What a system function leaves in the registers its caller may not count on.
constexpr uint64_t Scratch = 0xDEADBEEFDEADBEEF;
constexpr int Scratch64[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8,
                             UC_X86_REG_R9,  UC_X86_REG_R10, UC_X86_REG_R11};
constexpr int Arguments64[] = {UC_X86_REG_RCX, UC_X86_REG_RDX, UC_X86_REG_R8, UC_X86_REG_R9};
constexpr uint64_t ShadowSpace = 32;
constexpr uint64_t ReturnOffset = 0xF00; // in the stub page

uint64_t reg(Machine& machine, int id)
{
    uint64_t value = 0;
    uc_reg_read(machine.uc, id, &value);
    return machine.bits == 32 ? value & 0xFFFFFFFFu : value;
}

void setReg(Machine& machine, int id, uint64_t value)
{
    if (machine.bits == 32) {
        const uint32_t narrow = static_cast<uint32_t>(value);
        uc_reg_write(machine.uc, id, &narrow);
    } else {
        uc_reg_write(machine.uc, id, &value);
    }
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
    machine.bits = bits;
    return uc_open(UC_ARCH_X86, bits == 64 ? UC_MODE_64 : UC_MODE_32, &machine.uc) == UC_ERR_OK;
}

void close(Machine& machine)
{
    if (machine.uc != nullptr) {
        uc_close(machine.uc);
    }
    machine = Machine{};
}

void breach(Machine& machine, const char* format, ...)
{
    if (machine.breach[0] == '\0') {
        va_list list;
        va_start(list, format);
        std::vsnprintf(machine.breach, sizeof machine.breach, format, list);
        va_end(list);
    }
    uc_emu_stop(machine.uc);
}

void clearBreach(Machine& machine)
{
    machine.breach[0] = '\0';
}

bool breached(const Machine& machine)
{
    return machine.breach[0] != '\0';
}

uint64_t instructionPointer(Machine& machine)
{
    return reg(machine, machine.bits == 64 ? UC_X86_REG_RIP : UC_X86_REG_EIP);
}

uint64_t stackPointer(Machine& machine)
{
    return reg(machine, machine.bits == 64 ? UC_X86_REG_RSP : UC_X86_REG_ESP);
}

bool readGuest(Machine& machine, uint64_t address, void* into, size_t size)
{
    return machine.uc != nullptr && uc_mem_read(machine.uc, address, into, size) == UC_ERR_OK;
}

bool writeGuest(Machine& machine, uint64_t address, const void* from, size_t size)
{
    return machine.uc != nullptr && uc_mem_write(machine.uc, address, from, size) == UC_ERR_OK;
}

uint32_t guest32(Machine& machine, uint64_t address)
{
    uint8_t bytes[4] = {};
    readGuest(machine, address, bytes, sizeof bytes);
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint16_t guest16(Machine& machine, uint64_t address)
{
    uint8_t bytes[2] = {};
    readGuest(machine, address, bytes, sizeof bytes);
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint64_t guestPointer(Machine& machine, uint64_t address)
{
    if (machine.bits == 32) {
        return guest32(machine, address);
    }
    return guest32(machine, address) | static_cast<uint64_t>(guest32(machine, address + 4)) << 32;
}

bool putPointer(Machine& machine, uint64_t address, uint64_t value)
{
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return writeGuest(machine, address, bytes, machine.bits == 32 ? 4 : 8);
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

void describeInstruction(Machine& machine, uint64_t imageBase, uint64_t imageSize, char* out, size_t size)
{
    const uint64_t at = instructionPointer(machine);
    uint8_t bytes[6] = {};
    readGuest(machine, at, bytes, sizeof bytes);
    const bool inImage = at >= imageBase && at < imageBase + imageSize;
    std::snprintf(out, size, "instruction at 0x%0*llx (%s+0x%llx: %02x %02x %02x %02x %02x %02x)", machine.bits / 4,
                  static_cast<unsigned long long>(at), inImage ? "image" : "outside the image",
                  static_cast<unsigned long long>(at - imageBase), bytes[0], bytes[1], bytes[2], bytes[3], bytes[4],
                  bytes[5]);
}

bool mapStubs(Machine& machine, uint64_t base, const uint16_t* removedBytes, int count)
{
    uint8_t stubs[StubPageSize];
    std::memset(stubs, 0xF4, sizeof stubs); // hlt: never reached
    for (int k = 0; k < count && StubStride * static_cast<uint64_t>(k + 1) <= ReturnOffset; ++k) {
        uint8_t* stub = stubs + StubStride * static_cast<uint64_t>(k);
        const uint16_t removed = machine.bits == 64 ? 0 : removedBytes[k];
        const uint8_t code[] = {0xCD, 0x80, 0xC2, static_cast<uint8_t>(removed), static_cast<uint8_t>(removed >> 8)};
        std::memcpy(stub, code, sizeof code);
    }
    return uc_mem_map(machine.uc, base, StubPageSize, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK &&
           writeGuest(machine, base, stubs, sizeof stubs);
}

uint64_t returnAddressOf(uint64_t stubBase)
{
    return stubBase + ReturnOffset;
}

int stubIndex(Machine& machine, uint64_t stubBase, int count)
{
    const uint64_t at = instructionPointer(machine) - 2; // after "int 0x80"
    if (at < stubBase || (at - stubBase) % StubStride != 0 || (at - stubBase) / StubStride >= static_cast<uint64_t>(count)) {
        return -1;
    }
    return static_cast<int>((at - stubBase) / StubStride);
}

uint64_t callerAddress(Machine& machine)
{
    return guestPointer(machine, stackPointer(machine));
}

uint64_t argument(Machine& machine, Convention convention, int index)
{
    const uint64_t sp = stackPointer(machine);
    if (convention == Convention::Microsoft) {
        return index < 4 ? reg(machine, Arguments64[index])
                         : guestPointer(machine, sp + 8 + ShadowSpace + 8 * static_cast<uint64_t>(index - 4));
    }
    if (convention == Convention::Fastcall && index < 2) {
        return reg(machine, index == 0 ? UC_X86_REG_ECX : UC_X86_REG_EDX);
    }
    const int onStack = convention == Convention::Fastcall ? index - 2 : index;
    return guest32(machine, sp + 4 + 4 * static_cast<uint64_t>(onStack));
}

void setResult(Machine& machine, uint64_t value, bool wide)
{
    if (machine.bits == 64) {
        setReg(machine, UC_X86_REG_RAX, value);
        for (int id : Scratch64) {
            setReg(machine, id, Scratch);
        }
        return;
    }
    setReg(machine, UC_X86_REG_EAX, value);
    setReg(machine, UC_X86_REG_ECX, Scratch);
    setReg(machine, UC_X86_REG_EDX, wide ? value >> 32 : Scratch);
}

void checkCallerStack(Machine& machine, const char* function, uint64_t limit)
{
    if (machine.bits != 64) {
        return;
    }
    const uint64_t sp = stackPointer(machine);
    if ((sp + 8) % 16 != 0) {
        breach(machine, "%s called from 0x%016llx with the stack not 16-byte aligned (rsp 0x%016llx at the call)",
               function, static_cast<unsigned long long>(callerAddress(machine)),
               static_cast<unsigned long long>(sp + 8));
        return;
    }
    if (sp + 8 + ShadowSpace > limit) {
        breach(machine, "%s called from 0x%016llx without 32 bytes of shadow space", function,
               static_cast<unsigned long long>(callerAddress(machine)));
        return;
    }
    // The callee owns the shadow space: a caller that keeps anything there
    // loses it, as it would on Windows.
    uint8_t scribble[ShadowSpace];
    std::memset(scribble, 0xCC, sizeof scribble);
    writeGuest(machine, sp + 8, scribble, sizeof scribble);
}

uint64_t callGuest(Machine& machine, uint64_t entry, const uint64_t* arguments, int count, const char* name,
                   uint64_t stackTop, uint64_t stubBase, uint64_t* stackPointerAtEntry)
{
    const uint64_t back = returnAddressOf(stubBase);
    const int given = count < 8 ? count : 8;
    uint64_t sp = 0;
    if (machine.bits == 32) {
        uint32_t frame[1 + 8] = {static_cast<uint32_t>(back)};
        for (int i = 0; i < given; ++i) {
            frame[1 + i] = static_cast<uint32_t>(arguments[i]);
        }
        sp = stackTop - 4 - 4 * static_cast<uint64_t>(given);
        writeGuest(machine, sp, frame, 4 * static_cast<size_t>(1 + given));
        for (size_t i = 0; i < 4; ++i) {
            setReg(machine, Kept32[i], Kept[i]);
        }
        setReg(machine, UC_X86_REG_ESP, sp);
    } else {
        // Aligned to 16 before the return address, with the shadow space and
        // the stack arguments above it.
        uint64_t frame[1 + 4 + 8] = {back};
        for (int i = 0; i < given; ++i) {
            if (i < 4) {
                setReg(machine, Arguments64[i], arguments[i]);
            }
            frame[1 + i] = arguments[i];
        }
        sp = ((stackTop - 8 * 13) & ~uint64_t{15}) - 8;
        writeGuest(machine, sp, frame, sizeof frame);
        for (size_t i = 0; i < 8; ++i) {
            setReg(machine, Kept64[i], Kept[i]);
        }
        setReg(machine, UC_X86_REG_RSP, sp);
    }
    if (stackPointerAtEntry != nullptr) {
        *stackPointerAtEntry = sp;
    }
    setReg(machine, machine.bits == 64 ? UC_X86_REG_RAX : UC_X86_REG_EAX, 0);
    const uint64_t flags = 0x202; // direction flag clear, as the system promises
    setReg(machine, machine.bits == 64 ? UC_X86_REG_RFLAGS : UC_X86_REG_EFLAGS, flags);

    const uc_err stopped = uc_emu_start(machine.uc, entry, back, 0, 0);
    if (breached(machine)) {
        return 0;
    }
    if (stopped != UC_ERR_OK || instructionPointer(machine) != back) {
        char instruction[128];
        describeInstruction(machine, 0, 0, instruction, sizeof instruction);
        breach(machine, "%s stopped (%s) at the %s", name, uc_strerror(stopped), instruction);
        return 0;
    }
    const uint64_t after = stackPointer(machine);
    if (machine.bits == 32) {
        const uint64_t pushed = 4 * static_cast<uint64_t>(given);
        if (after != stackTop) {
            breach(machine, "%s removed %d bytes of arguments from the stack, not %u", name,
                   static_cast<int>(static_cast<int64_t>(after) - static_cast<int64_t>(sp + 4)),
                   static_cast<unsigned>(pushed));
            return 0;
        }
    } else if (after != sp + 8) {
        breach(machine, "%s returned with the stack pointer off by %lld bytes", name,
               static_cast<long long>(static_cast<int64_t>(after) - static_cast<int64_t>(sp + 8)));
        return 0;
    }
    const int* kept = machine.bits == 32 ? Kept32 : Kept64;
    const char* const* names = machine.bits == 32 ? KeptNames32 : KeptNames64;
    const size_t keptCount = machine.bits == 32 ? 4 : 8;
    char changed[160] = "";
    size_t length = 0;
    for (size_t i = 0; i < keptCount; ++i) {
        const uint64_t expected = machine.bits == 32 ? Kept[i] & 0xFFFFFFFFu : Kept[i];
        const uint64_t value = reg(machine, kept[i]);
        if (value != expected && length < sizeof changed) {
            length += static_cast<size_t>(std::snprintf(changed + length, sizeof changed - length, " %s %0*llx", names[i],
                                                        machine.bits / 4, static_cast<unsigned long long>(value)));
        }
    }
    if (changed[0] != '\0') {
        breach(machine, "%s did not keep the caller's registers (%s)", name, changed + 1);
        return 0;
    }
    return reg(machine, machine.bits == 64 ? UC_X86_REG_RAX : UC_X86_REG_EAX);
}

} // namespace Emulator

// The PE32 loader and the emulator it runs the DLL in (see loader.h).
#include "tests/emulator/loader.h"

#include "tests/emulator/imports.h"

#include <unicorn/unicorn.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace Emulator {
namespace {

// The guest's address space besides the image: the import stubs with the
// return address every call of an export comes back to, and a stack.
constexpr uint32_t StubBase = 0x00010000;
constexpr uint32_t StubSize = 0x1000;
constexpr uint32_t StubStride = 8;
constexpr uint32_t ReturnAddress = StubBase + 0xF00;
constexpr uint32_t StackBase = 0x00100000;
constexpr uint32_t StackSize = 0x00040000;
constexpr uint32_t StackTop = StackBase + StackSize - 64;
constexpr uint32_t PageSize = 0x1000;

// What the caller's registers hold across a call, so that a callee that
// does not keep them is seen.
constexpr uint32_t KeptEbx = 0xB0B0B0B0, KeptEsi = 0x51515151, KeptEdi = 0xD1D1D1D1, KeptEbp = 0xBEBEBEBE;

constexpr size_t MaxSections = 32; // per image; a program with its debug sections has about 20
constexpr size_t MaxFile = 1 << 20;

struct Range {
    uint32_t begin, end;
};

struct State {
    uc_engine* uc = nullptr;
    uint32_t base = 0;
    uint32_t size = 0;
    bool moved = false;
    uint32_t exports[ExportCount] = {};
    uint32_t slots[ImportCount] = {};
    Range code[2 * MaxSections] = {}; // the DLL's and a program's
    size_t codeCount = 0;
    Range writable[2 * MaxSections] = {};
    size_t writableCount = 0;
    uc_hook counter = 0;
    uint64_t instructions = 0;
    char error[256] = "";
    char breach[256] = "";
};

State state;
uint8_t file[MaxFile];

uint16_t read16(const uint8_t* at)
{
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t read32(const uint8_t* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

bool fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool fail(const char* format, ...)
{
    va_list list;
    va_start(list, format);
    std::vsnprintf(state.error, sizeof state.error, format, list);
    va_end(list);
    return false;
}

// The first breach of a call is the one that counts: it stops the emulator.
void breach(uc_engine* uc, const char* format, ...) __attribute__((format(printf, 2, 3)));
void breach(uc_engine* uc, const char* format, ...)
{
    if (state.breach[0] == '\0') {
        va_list list;
        va_start(list, format);
        std::vsnprintf(state.breach, sizeof state.breach, format, list);
        va_end(list);
    }
    uc_emu_stop(uc);
}

bool inside(const Range* ranges, size_t count, uint64_t address, uint64_t size)
{
    for (size_t i = 0; i < count; ++i) {
        if (address >= ranges[i].begin && address + size <= ranges[i].end) {
            return true;
        }
    }
    return false;
}

uint32_t eip(uc_engine* uc)
{
    uint32_t value = 0;
    uc_reg_read(uc, UC_X86_REG_EIP, &value);
    return value;
}

// "instruction at 2KZQ4810.dll+0x1234 (8b 45 08 89 ...)".
void describeInstruction(uc_engine* uc, char* out, size_t size)
{
    const uint32_t at = eip(uc);
    uint8_t bytes[6] = {};
    uc_mem_read(uc, at, bytes, sizeof bytes);
    std::snprintf(out, size, "instruction at 0x%08x (%s+0x%x: %02x %02x %02x %02x %02x %02x)", at,
                  at >= state.base && at < state.base + state.size ? "image" : "outside the image", at - state.base,
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5]);
}

void onWrite(uc_engine* uc, uc_mem_type, uint64_t address, int size, int64_t, void*)
{
    const uint64_t length = static_cast<uint64_t>(size);
    if (inside(state.writable, state.writableCount, address, length) ||
        (address >= StackBase && address + length <= StackBase + StackSize)) {
        return;
    }
    char instruction[128];
    describeInstruction(uc, instruction, sizeof instruction);
    breach(uc, "stray write of %d bytes at 0x%08llx by the %s", size, static_cast<unsigned long long>(address),
           instruction);
}

bool onInvalid(uc_engine* uc, uc_mem_type type, uint64_t address, int size, int64_t, void*)
{
    const char* what = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? "code run"
                       : type == UC_MEM_READ_UNMAPPED || type == UC_MEM_READ_PROT ? "read"
                                                                                    : "write";
    if (type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT) {
        breach(uc, "%s at 0x%08llx, outside the DLL and its nine imports", what,
               static_cast<unsigned long long>(address));
        return false;
    }
    char instruction[128];
    describeInstruction(uc, instruction, sizeof instruction);
    breach(uc, "%s of %d bytes at 0x%08llx by the %s", what, size, static_cast<unsigned long long>(address),
           instruction);
    return false;
}

// An import stub ran its INT: serve the import, whose address tells which;
// the stub's RET n then removes the arguments as the system's function would.
void onInterrupt(uc_engine* uc, uint32_t number, void*)
{
    const uint32_t at = eip(uc) - 2; // after "int 0x80"
    const uint32_t index = (at - StubBase) / StubStride;
    if (number != 0x80 || at < StubBase || (at - StubBase) % StubStride != 0 || index >= ImportCount) {
        char instruction[128];
        describeInstruction(uc, instruction, sizeof instruction);
        breach(uc, "interrupt 0x%x by the %s", number, instruction);
        return;
    }
    uint32_t esp = 0;
    uc_reg_read(uc, UC_X86_REG_ESP, &esp);
    uint32_t frame[1 + MaxImportArguments] = {};
    if (uc_mem_read(uc, esp, frame, sizeof frame) != UC_ERR_OK) {
        breach(uc, "stack unreadable at 0x%08x in a call of %s", esp, Imports[index].name);
        return;
    }
    if (!inside(state.code, state.codeCount, frame[0], 1)) {
        breach(uc, "%s called from 0x%08x, outside the DLL's code", Imports[index].name, frame[0]);
        return;
    }
    char problem[200] = "";
    const uint32_t result = Imports[index].serve(uc, frame + 1, problem, sizeof problem);
    if (problem[0] != '\0') {
        breach(uc, "%s called from 0x%08x: %s", Imports[index].name, frame[0], problem);
        return;
    }
    uc_reg_write(uc, UC_X86_REG_EAX, &result);
    // The caller may not count on what the system leaves in these.
    const uint32_t scratch = 0xDEADBEEF;
    uc_reg_write(uc, UC_X86_REG_ECX, &scratch);
    uc_reg_write(uc, UC_X86_REG_EDX, &scratch);
}

void onCode(uc_engine*, uint64_t, uint32_t, void*)
{
    ++state.instructions;
}

bool readFile(const char* path, size_t* size)
{
    FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        return fail("%s: cannot be opened", path);
    }
    *size = std::fread(file, 1, sizeof file, stream);
    const bool tooLarge = std::fgetc(stream) != EOF;
    std::fclose(stream);
    if (tooLarge) {
        return fail("%s: larger than %zu bytes", path, sizeof file);
    }
    return true;
}

// The image as Windows lays it out: headers, then each section at its
// address, with the protection its characteristics ask for.
bool mapImage(const char* path, size_t fileSize, bool dll, uint32_t base, uint32_t* imageSize)
{
    const uint32_t peOffset = fileSize >= 0x40 ? read32(file + 0x3C) : 0;
    if (fileSize < 0x40 || read16(file) != 0x5A4D || peOffset + 0xF8 > fileSize || read32(file + peOffset) != 0x4550) {
        return fail("%s: not a PE file", path);
    }
    const uint8_t* header = file + peOffset + 4;
    const uint8_t* optional = header + 20;
    if (read16(header) != 0x14C || read16(optional) != 0x10B) {
        return fail("%s: not a PE32 i386 image (machine 0x%x, optional header 0x%x)", path, read16(header),
                    read16(optional));
    }
    if (((read16(header + 18) & 0x2000) != 0) != dll) {
        return fail(dll ? "%s: not a DLL" : "%s: a DLL, not a program", path);
    }
    const uint16_t sections = read16(header + 2);
    const uint8_t* table = optional + read16(header + 16);
    *imageSize = (read32(optional + 56) + PageSize - 1) & ~(PageSize - 1);
    const uint32_t headersSize = read32(optional + 60);
    if (sections > MaxSections || table + 40u * sections > file + fileSize || headersSize > fileSize ||
        *imageSize == 0) {
        return fail("%s: section table out of bounds", path);
    }
    if (uc_mem_map(state.uc, base, *imageSize, UC_PROT_NONE) != UC_ERR_OK) {
        return fail("%s: cannot map %u bytes at 0x%08x", path, *imageSize, base);
    }
    uc_mem_write(state.uc, base, file, headersSize);
    uc_mem_protect(state.uc, base, (headersSize + PageSize - 1) & ~(PageSize - 1), UC_PROT_READ);
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* section = table + 40u * i;
        const uint32_t virtualSize = read32(section + 8), address = read32(section + 12);
        const uint32_t rawSize = read32(section + 16), rawOffset = read32(section + 20);
        const uint32_t flags = read32(section + 36);
        const uint32_t span = (virtualSize + PageSize - 1) & ~(PageSize - 1);
        if (address % PageSize != 0 || address + span > *imageSize || rawOffset + rawSize > fileSize) {
            return fail("%s: section %u out of bounds", path, i);
        }
        uc_mem_write(state.uc, base + address, file + rawOffset, rawSize < virtualSize ? rawSize : virtualSize);
        uint32_t protection = UC_PROT_READ;
        if ((flags & 0x20000000u) != 0) {
            protection |= UC_PROT_EXEC;
            state.code[state.codeCount++] = {base + address, base + address + virtualSize};
        }
        if ((flags & 0x80000000u) != 0) {
            protection |= UC_PROT_WRITE;
        }
        uc_mem_protect(state.uc, base + address, span, protection);
    }
    return true;
}

// Data directory n of the image mapped at base: its address and size.
Range directory(int n, uint32_t base = state.base)
{
    uint8_t header[0x200];
    uc_mem_read(state.uc, base, header, sizeof header);
    const uint8_t* optional = header + read32(header + 0x3C) + 24;
    const uint32_t address = read32(optional + 96 + 8 * n), size = read32(optional + 100 + 8 * n);
    return {address, address + size};
}

uint32_t guest32(uint32_t address)
{
    uint8_t bytes[4] = {};
    uc_mem_read(state.uc, address, bytes, sizeof bytes);
    return read32(bytes);
}

bool guestText(uint32_t address, char* into, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        if (uc_mem_read(state.uc, address + i, into + i, 1) != UC_ERR_OK) {
            return false;
        }
        if (into[i] == '\0') {
            return true;
        }
    }
    return false;
}

bool relocate(const char* path, uint32_t delta)
{
    const Range relocations = directory(5);
    if (relocations.begin == 0) {
        return fail("%s: cannot be moved: it has no relocations", path);
    }
    for (uint32_t block = relocations.begin; block + 8 <= relocations.end;) {
        const uint32_t page = guest32(state.base + block), size = guest32(state.base + block + 4);
        if (size < 8 || block + size > relocations.end) {
            return fail("%s: relocation block at 0x%x out of bounds", path, block);
        }
        for (uint32_t entry = block + 8; entry + 2 <= block + size; entry += 2) {
            uint8_t bytes[2] = {};
            uc_mem_read(state.uc, state.base + entry, bytes, 2);
            const uint16_t value = read16(bytes);
            if (value >> 12 == 0) {
                continue; // padding
            }
            if (value >> 12 != 3) {
                return fail("%s: relocation of type %u", path, value >> 12);
            }
            const uint32_t at = state.base + page + (value & 0xFFFu);
            uint32_t word = guest32(at) + delta;
            uc_mem_write(state.uc, at, &word, 4);
        }
        block += size;
    }
    return true;
}

bool bindImports(const char* path)
{
    const Range imports = directory(1);
    if (imports.begin == 0) {
        return fail("%s: imports nothing", path);
    }
    for (uint32_t descriptor = state.base + imports.begin;; descriptor += 20) {
        const uint32_t lookup = guest32(descriptor), nameAt = guest32(descriptor + 12);
        const uint32_t slots = guest32(descriptor + 16);
        if (nameAt == 0) {
            return true;
        }
        char library[64];
        if (!guestText(state.base + nameAt, library, sizeof library)) {
            return fail("%s: an import's library name is unreadable", path);
        }
        for (uint32_t i = 0;; ++i) {
            const uint32_t entry = guest32(state.base + (lookup != 0 ? lookup : slots) + 4 * i);
            if (entry == 0) {
                break;
            }
            if ((entry & 0x80000000u) != 0) {
                return fail("%s: imports ordinal %u from %s, not one of the nine functions", path, entry & 0xFFFFu,
                            library);
            }
            char function[64];
            if (!guestText(state.base + entry + 2, function, sizeof function)) {
                return fail("%s: an import's name is unreadable", path);
            }
            int found = -1;
            for (int k = 0; k < ImportCount; ++k) {
                if (strcasecmp(Imports[k].library, library) == 0 && std::strcmp(Imports[k].name, function) == 0) {
                    found = k;
                }
            }
            if (found < 0) {
                return fail("%s: imports %s!%s, not one of the nine functions", path, library, function);
            }
            const uint32_t stub = StubBase + StubStride * static_cast<uint32_t>(found);
            state.slots[found] = state.base + slots + 4 * i;
            uc_mem_write(state.uc, state.slots[found], &stub, 4);
        }
    }
}

bool findExports(const char* path)
{
    const Range exports = directory(0);
    if (exports.begin == 0) {
        return fail("%s: exports nothing", path);
    }
    const uint32_t table = state.base + exports.begin;
    const uint32_t names = guest32(table + 24), functions = guest32(table + 28);
    const uint32_t nameTable = state.base + guest32(table + 32), ordinals = state.base + guest32(table + 36);
    for (int k = 0; k < ExportCount; ++k) {
        for (uint32_t i = 0; i < names && state.exports[k] == 0; ++i) {
            char name[64];
            if (guestText(state.base + guest32(nameTable + 4 * i), name, sizeof name) &&
                std::strcmp(name, Exports[k].name) == 0) {
                uint8_t index[2] = {};
                uc_mem_read(state.uc, ordinals + 2 * i, index, 2);
                state.exports[k] = state.base + guest32(state.base + functions + 4 * read16(index));
            }
        }
        if (state.exports[k] == 0) {
            return fail("%s: does not export %s", path, Exports[k].name);
        }
    }
    return true;
}

// The writable sections the DLL may write: all but those the system writes
// for it (the import table's slots, the resources).
void findWritable(uint32_t base)
{
    uint8_t header[0x400];
    uc_mem_read(state.uc, base, header, sizeof header);
    const uint8_t* fileHeader = header + read32(header + 0x3C) + 4;
    const uint8_t* table = fileHeader + 20 + read16(fileHeader + 16);
    const Range systems[] = {directory(1, base), directory(2, base), directory(12, base)};
    for (uint16_t i = 0; i < read16(fileHeader + 2); ++i) {
        const uint8_t* section = table + 40u * i;
        const uint32_t address = read32(section + 12), end = address + read32(section + 8);
        bool system = false;
        for (const Range& range : systems) {
            system = system || (range.begin != 0 && range.begin < end && range.end > address);
        }
        if ((read32(section + 36) & 0x80000000u) != 0 && !system) {
            state.writable[state.writableCount++] = {base + address, base + end};
        }
    }
}

// A program's imports: only the DLL's exports, by name, as the import
// library names them.
bool bindProgramImports(const char* path, uint32_t base)
{
    for (uint32_t descriptor = base + directory(1, base).begin;; descriptor += 20) {
        const uint32_t lookup = guest32(descriptor), nameAt = guest32(descriptor + 12);
        const uint32_t slots = guest32(descriptor + 16);
        char library[64];
        if (nameAt == 0) {
            return true;
        }
        if (!guestText(base + nameAt, library, sizeof library) || strcasecmp(library, "2KZQ4810.dll") != 0) {
            return fail("%s: imports from %s; only a program that imports from the DLL alone runs here", path, library);
        }
        for (uint32_t i = 0; guest32(base + lookup + 4 * i) != 0; ++i) {
            char function[64] = "";
            guestText(base + guest32(base + lookup + 4 * i) + 2, function, sizeof function);
            uint32_t address = 0;
            for (int k = 0; k < ExportCount; ++k) {
                address = std::strcmp(Exports[k].name, function) == 0 ? state.exports[k] : address;
            }
            if (address == 0) {
                return fail("%s: imports %s, which the DLL does not export", path, function);
            }
            uc_mem_write(state.uc, base + slots + 4 * i, &address, 4);
        }
    }
}

bool mapStubs()
{
    uint8_t stubs[StubSize];
    std::memset(stubs, 0xF4, sizeof stubs); // hlt: never reached
    for (int k = 0; k < ImportCount; ++k) {
        uint8_t* stub = stubs + StubStride * static_cast<uint32_t>(k);
        const uint16_t removed = static_cast<uint16_t>(4 * Imports[k].arguments);
        const uint8_t code[] = {0xCD, 0x80, 0xC2, static_cast<uint8_t>(removed), static_cast<uint8_t>(removed >> 8)};
        std::memcpy(stub, code, sizeof code);
    }
    return uc_mem_map(state.uc, StubBase, StubSize, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK &&
           uc_mem_write(state.uc, StubBase, stubs, sizeof stubs) == UC_ERR_OK &&
           uc_mem_map(state.uc, StackBase, StackSize, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK;
}

// Leaves nothing loaded but the reason why.
bool abandon()
{
    char reason[sizeof state.error];
    std::memcpy(reason, state.error, sizeof reason);
    unload();
    std::memcpy(state.error, reason, sizeof reason);
    return false;
}

} // namespace

bool guestMayWrite(uint32_t address, uint32_t size)
{
    return inside(state.writable, state.writableCount, address, size) ||
           (address >= StackBase && static_cast<uint64_t>(address) + size <= StackBase + StackSize);
}

bool load(const char* path, uint32_t base)
{
    unload();
    size_t size = 0;
    if (!readFile(path, &size)) {
        return false;
    }
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &state.uc) != UC_ERR_OK) {
        return fail("the emulator cannot start");
    }
    if (!mapStubs()) {
        fail("the emulator cannot map its stack");
        return abandon();
    }
    const uint32_t preferred = size >= 0x40 && read32(file + 0x3C) + 0x38 <= size ? read32(file + read32(file + 0x3C) + 0x34) : 0;
    state.base = base != 0 ? base : preferred;
    if (!mapImage(path, size, true, state.base, &state.size)) {
        return abandon();
    }
    state.moved = state.base != preferred;
    bool ready = (!state.moved || relocate(path, state.base - preferred)) && bindImports(path) && findExports(path);
    if (ready) {
        findWritable(state.base);
        uc_hook hook;
        ready = uc_hook_add(state.uc, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(onWrite), nullptr, 1, 0) ==
                    UC_ERR_OK &&
                uc_hook_add(state.uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(onInvalid), nullptr, 1, 0) ==
                    UC_ERR_OK &&
                uc_hook_add(state.uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), nullptr, 1, 0) ==
                    UC_ERR_OK;
        if (!ready) {
            fail("the emulator cannot watch the DLL");
        }
    }
    return ready || abandon();
}

void unload()
{
    if (state.uc != nullptr) {
        uc_close(state.uc);
    }
    state = State{};
}

const char* error()
{
    return state.error;
}

uint32_t imageBase()
{
    return state.base;
}

bool relocated()
{
    return state.moved;
}

namespace {

// Runs the guest function at entry as the system calls one: arguments pushed
// right to left, the return address, and the registers a callee must keep.
int32_t runAt(uint32_t entry, const char* name, const int32_t* arguments, int count)
{
    uint32_t frame[1 + 8] = {ReturnAddress};
    for (int i = 0; i < count && i < 8; ++i) {
        frame[1 + i] = static_cast<uint32_t>(arguments[i]);
    }
    const uint32_t pushed = 4u * static_cast<uint32_t>(count < 8 ? count : 8);
    const uint32_t esp = StackTop - 4 - pushed;
    uc_mem_write(state.uc, esp, frame, 4 + pushed);
    const uint32_t eax = 0, flags = 0x202;
    uc_reg_write(state.uc, UC_X86_REG_ESP, &esp);
    uc_reg_write(state.uc, UC_X86_REG_EAX, &eax);
    uc_reg_write(state.uc, UC_X86_REG_EFLAGS, &flags); // direction flag clear, as the system promises
    uc_reg_write(state.uc, UC_X86_REG_EBX, &KeptEbx);
    uc_reg_write(state.uc, UC_X86_REG_ESI, &KeptEsi);
    uc_reg_write(state.uc, UC_X86_REG_EDI, &KeptEdi);
    uc_reg_write(state.uc, UC_X86_REG_EBP, &KeptEbp);

    const uc_err stopped = uc_emu_start(state.uc, entry, ReturnAddress, 0, 0);
    if (state.breach[0] != '\0') {
        return 0;
    }
    if (stopped != UC_ERR_OK || eip(state.uc) != ReturnAddress) {
        char instruction[128];
        describeInstruction(state.uc, instruction, sizeof instruction);
        breach(state.uc, "%s stopped (%s) at the %s", name, uc_strerror(stopped), instruction);
        return 0;
    }
    uint32_t after[5] = {};
    uc_reg_read(state.uc, UC_X86_REG_ESP, &after[0]);
    uc_reg_read(state.uc, UC_X86_REG_EBX, &after[1]);
    uc_reg_read(state.uc, UC_X86_REG_ESI, &after[2]);
    uc_reg_read(state.uc, UC_X86_REG_EDI, &after[3]);
    uc_reg_read(state.uc, UC_X86_REG_EBP, &after[4]);
    if (after[0] != StackTop) {
        breach(state.uc, "%s removed %d bytes of arguments from the stack, not %u", name,
               static_cast<int>(after[0] - (esp + 4)), pushed);
    } else if (after[1] != KeptEbx || after[2] != KeptEsi || after[3] != KeptEdi || after[4] != KeptEbp) {
        breach(state.uc, "%s did not keep the caller's registers (ebx %08x esi %08x edi %08x ebp %08x)", name,
               after[1], after[2], after[3], after[4]);
    }
    uint32_t result = 0;
    uc_reg_read(state.uc, UC_X86_REG_EAX, &result);
    return state.breach[0] != '\0' ? 0 : static_cast<int32_t>(result);
}

} // namespace

int32_t call(int index, const int32_t* arguments, int count)
{
    state.breach[0] = '\0';
    if (state.uc == nullptr || index < 0 || index >= ExportCount) {
        std::snprintf(state.breach, sizeof state.breach, "export %d called with no DLL loaded", index);
        return 0;
    }
    return runAt(state.exports[index], Exports[index].name, arguments, count);
}

bool runProgram(const char* path, int32_t* exitCode)
{
    state.breach[0] = '\0';
    size_t size = 0;
    if (state.uc == nullptr) {
        return fail("no DLL loaded");
    }
    if (!readFile(path, &size)) {
        return false;
    }
    const uint32_t peOffset = size >= 0x40 ? read32(file + 0x3C) : 0;
    const uint32_t base = peOffset + 0x38 <= size ? read32(file + peOffset + 0x34) : 0;
    uint32_t imageSize = 0;
    if (!mapImage(path, size, false, base, &imageSize) || !bindProgramImports(path, base)) {
        return false;
    }
    findWritable(base);
    // The process starts at the entry point, which is given one argument and
    // whose result is the exit code.
    const int32_t environment = 0;
    *exitCode = runAt(base + read32(file + peOffset + 0x28), path, &environment, 1);
    return true;
}

const char* breach()
{
    return state.breach;
}

void countInstructions(bool on)
{
    if (state.uc == nullptr) {
        return;
    }
    if (on && state.counter == 0 && state.codeCount > 0) {
        uc_hook_add(state.uc, &state.counter, UC_HOOK_CODE, reinterpret_cast<void*>(onCode), nullptr,
                    state.code[0].begin, state.code[0].end - 1);
    } else if (!on && state.counter != 0) {
        uc_hook_del(state.uc, state.counter);
        state.counter = 0;
    }
}

uint64_t instructions()
{
    return state.instructions;
}

uint32_t exportAddress(int index)
{
    return index >= 0 && index < ExportCount ? state.exports[index] : 0;
}

uint32_t importSlot(const char* name)
{
    for (int k = 0; k < ImportCount; ++k) {
        if (std::strcmp(Imports[k].name, name) == 0) {
            return state.slots[k];
        }
    }
    return 0;
}

bool readGuest(uint32_t address, void* into, size_t size)
{
    return state.uc != nullptr && uc_mem_read(state.uc, address, into, size) == UC_ERR_OK;
}

bool patch(uint32_t address, const uint8_t* bytes, size_t size)
{
    if (state.uc == nullptr || uc_mem_write(state.uc, address, bytes, size) != UC_ERR_OK) {
        return false;
    }
    // The emulator may have translated the old bytes already.
    uc_ctl_remove_cache(state.uc, address, address + size);
    return true;
}

} // namespace Emulator

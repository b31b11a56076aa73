// Mapping PE32 and PE32+ images (see image.h).
#include "emulator/image.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Emulator {
namespace {

constexpr uint64_t PageSize = 0x1000;
constexpr size_t MaxFile = 1 << 20;
constexpr uint16_t DllFlag = 0x2000;
constexpr uint16_t NativeSubsystem = 1;

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

uint64_t read64(const uint8_t* at)
{
    return read32(at) | static_cast<uint64_t>(read32(at + 4)) << 32;
}

uint64_t pages(uint64_t size)
{
    return (size + PageSize - 1) & ~(PageSize - 1);
}

bool readFile(const char* path, size_t* size, Error& error)
{
    FILE* stream = std::fopen(path, "rb");
    if (stream == nullptr) {
        return fail(error, "%s: cannot be opened", path);
    }
    *size = std::fread(file, 1, sizeof file, stream);
    const bool tooLarge = std::fgetc(stream) != EOF;
    std::fclose(stream);
    if (tooLarge) {
        return fail(error, "%s: larger than %zu bytes", path, sizeof file);
    }
    return true;
}

// The offset of the PE signature, or 0 when the file has none.
uint32_t peOffset(size_t size)
{
    const uint32_t offset = size >= 0x40 ? read32(file + 0x3C) : 0;
    return size >= 0x40 && read16(file) == 0x5A4D && offset + 0x108 <= size && read32(file + offset) == 0x4550 ? offset
                                                                                                                : 0;
}

// Where each width keeps the fields that differ.
struct Format {
    uint16_t machine, magic;
    uint32_t imageBase, directories;
    const char* name;
};
constexpr Format Pe32 = {0x14C, 0x10B, 28, 96, "PE32 i386"};
constexpr Format Pe32Plus = {0x8664, 0x20B, 24, 112, "PE32+ x86-64"};

const Format& formatOf(const Machine& machine)
{
    return machine.bits == 64 ? Pe32Plus : Pe32;
}

bool relocate(Machine& machine, const Image& image, const char* path, Error& error)
{
    const Range relocations = directory(machine, image, 5);
    const uint64_t delta = image.base - image.preferred;
    if (relocations.begin == 0) {
        return fail(error, "%s: cannot be moved: it has no relocations", path);
    }
    for (uint64_t block = relocations.begin; block + 8 <= relocations.end;) {
        const uint32_t page = guest32(machine, image.base + block), size = guest32(machine, image.base + block + 4);
        if (size < 8 || block + size > relocations.end) {
            return fail(error, "%s: relocation block at 0x%llx out of bounds", path, static_cast<unsigned long long>(block));
        }
        for (uint64_t entry = block + 8; entry + 2 <= block + size; entry += 2) {
            const uint16_t value = guest16(machine, image.base + entry);
            const uint64_t at = image.base + page + (value & 0xFFFu);
            const unsigned type = value >> 12;
            if (type == 0) {
                continue; // padding
            }
            if (type == 3 && machine.bits == 32) {
                const uint32_t word = guest32(machine, at) + static_cast<uint32_t>(delta);
                writeGuest(machine, at, &word, 4);
            } else if (type == 10 && machine.bits == 64) {
                putPointer(machine, at, guestPointer(machine, at) + delta);
            } else {
                return fail(error, "%s: relocation of type %u", path, type);
            }
        }
        block += size;
    }
    return true;
}

void findWritable(Machine& machine, Image& image, const uint8_t* table, uint16_t sections)
{
    const Range systems[] = {directory(machine, image, 1), directory(machine, image, 2), directory(machine, image, 12)};
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* section = table + 40u * i;
        const uint64_t address = read32(section + 12), end = address + read32(section + 8);
        bool system = false;
        for (const Range& range : systems) {
            system = system || (range.begin != 0 && range.begin < end && range.end > address);
        }
        if ((read32(section + 36) & 0x80000000u) != 0 && !system) {
            image.writable[image.writableCount++] = {image.base + address, image.base + end};
        }
    }
}

} // namespace

bool fail(Error& error, const char* format, ...)
{
    va_list list;
    va_start(list, format);
    std::vsnprintf(error.text, sizeof error.text, format, list);
    va_end(list);
    return false;
}

int imageBits(const char* path)
{
    Error ignored;
    size_t size = 0;
    if (!readFile(path, &size, ignored) || peOffset(size) == 0) {
        return 0;
    }
    const uint16_t machine = read16(file + peOffset(size) + 4);
    return machine == Pe32.machine ? 32 : machine == Pe32Plus.machine ? 64 : 0;
}

bool mapImage(Machine& machine, const char* path, ImageKind kind, uint64_t base, Image& image, Error& error)
{
    image = Image{};
    size_t size = 0;
    if (!readFile(path, &size, error)) {
        return false;
    }
    const uint32_t pe = peOffset(size);
    if (pe == 0) {
        return fail(error, "%s: not a PE file", path);
    }
    const Format& format = formatOf(machine);
    const uint8_t* header = file + pe + 4;
    const uint8_t* optional = header + 20;
    if (read16(header) != format.machine || read16(optional) != format.magic) {
        return fail(error, "%s: not a %s image (machine 0x%x, optional header 0x%x)", path, format.name, read16(header),
                    read16(optional));
    }
    const uint16_t characteristics = read16(header + 18), subsystem = read16(optional + 68);
    const bool dll = (characteristics & DllFlag) != 0;
    if (kind == ImageKind::Dll && !dll) {
        return fail(error, "%s: not a DLL", path);
    }
    if (kind == ImageKind::Program && dll) {
        return fail(error, "%s: a DLL, not a program", path);
    }
    if (kind == ImageKind::Driver && (dll || subsystem != NativeSubsystem)) {
        return fail(error, "%s: not a driver (%s, subsystem %u)", path, dll ? "a DLL" : "a program", subsystem);
    }
    const uint16_t sections = read16(header + 2);
    const uint8_t* table = optional + read16(header + 16);
    image.preferred = machine.bits == 64 ? read64(optional + format.imageBase) : read32(optional + format.imageBase);
    image.base = base != 0 ? base : image.preferred;
    image.size = pages(read32(optional + 56));
    image.entry = read32(optional + 16);
    const uint32_t headersSize = read32(optional + 60);
    if (sections > MaxSections || table + 40u * sections > file + size || headersSize > size || image.size == 0) {
        return fail(error, "%s: section table out of bounds", path);
    }
    if (uc_mem_map(machine.uc, image.base, image.size, UC_PROT_NONE) != UC_ERR_OK) {
        return fail(error, "%s: cannot map %llu bytes at 0x%llx", path, static_cast<unsigned long long>(image.size),
                    static_cast<unsigned long long>(image.base));
    }
    writeGuest(machine, image.base, file, headersSize);
    uc_mem_protect(machine.uc, image.base, pages(headersSize), UC_PROT_READ);
    for (uint16_t i = 0; i < sections; ++i) {
        const uint8_t* section = table + 40u * i;
        const uint32_t virtualSize = read32(section + 8), address = read32(section + 12);
        const uint32_t rawSize = read32(section + 16), rawOffset = read32(section + 20);
        const uint32_t flags = read32(section + 36);
        if (address % PageSize != 0 || address + pages(virtualSize) > image.size || rawOffset + rawSize > size) {
            return fail(error, "%s: section %u out of bounds", path, i);
        }
        writeGuest(machine, image.base + address, file + rawOffset, rawSize < virtualSize ? rawSize : virtualSize);
        uint32_t protection = UC_PROT_READ;
        if ((flags & 0x20000000u) != 0) {
            protection |= UC_PROT_EXEC;
            image.code[image.codeCount++] = {image.base + address, image.base + address + virtualSize};
        }
        if ((flags & 0x80000000u) != 0) {
            protection |= UC_PROT_WRITE;
        }
        uc_mem_protect(machine.uc, image.base + address, pages(virtualSize), protection);
    }
    if (image.base != image.preferred && !relocate(machine, image, path, error)) {
        return false;
    }
    findWritable(machine, image, table, sections);
    return true;
}

Range directory(Machine& machine, const Image& image, int n)
{
    const uint64_t optional = image.base + guest32(machine, image.base + 0x3C) + 24;
    const uint64_t entry = optional + formatOf(machine).directories + 8 * static_cast<uint64_t>(n);
    const uint32_t address = guest32(machine, entry), size = guest32(machine, entry + 4);
    return {address, static_cast<uint64_t>(address) + size};
}

bool forEachImport(Machine& machine, const Image& image, bool (*visit)(void* context, const Import& import),
                   void* context, const char* path, Error& error)
{
    const Range imports = directory(machine, image, 1);
    const uint64_t entrySize = machine.bits == 64 ? 8 : 4;
    const uint64_t ordinalFlag = uint64_t{1} << (machine.bits - 1);
    if (imports.begin == 0) {
        return true;
    }
    for (uint64_t descriptor = image.base + imports.begin;; descriptor += 20) {
        const uint32_t lookup = guest32(machine, descriptor), nameAt = guest32(machine, descriptor + 12);
        const uint32_t slots = guest32(machine, descriptor + 16);
        if (nameAt == 0) {
            return true;
        }
        char library[64];
        if (!guestText(machine, image.base + nameAt, library, sizeof library)) {
            return fail(error, "%s: an import's library name is unreadable", path);
        }
        for (uint64_t i = 0;; ++i) {
            const uint64_t entry = guestPointer(machine, image.base + (lookup != 0 ? lookup : slots) + entrySize * i);
            if (entry == 0) {
                break;
            }
            char function[64] = "";
            const bool byOrdinal = (entry & ordinalFlag) != 0;
            if (!byOrdinal && !guestText(machine, image.base + (entry & 0x7FFFFFFFu) + 2, function, sizeof function)) {
                return fail(error, "%s: an import's name is unreadable", path);
            }
            const Import import{library, byOrdinal ? nullptr : function, static_cast<uint16_t>(entry & 0xFFFFu),
                                image.base + slots + entrySize * i};
            if (!visit(context, import)) {
                return false;
            }
        }
    }
}

uint64_t findExport(Machine& machine, const Image& image, const char* name)
{
    const Range exports = directory(machine, image, 0);
    if (exports.begin == 0) {
        return 0;
    }
    const uint64_t table = image.base + exports.begin;
    const uint32_t names = guest32(machine, table + 24), functions = guest32(machine, table + 28);
    const uint64_t nameTable = image.base + guest32(machine, table + 32);
    const uint64_t ordinals = image.base + guest32(machine, table + 36);
    for (uint32_t i = 0; i < names; ++i) {
        char exported[64];
        if (guestText(machine, image.base + guest32(machine, nameTable + 4 * i), exported, sizeof exported) &&
            std::strcmp(exported, name) == 0) {
            return image.base + guest32(machine, image.base + functions + 4 * guest16(machine, ordinals + 2 * i));
        }
    }
    return 0;
}

} // namespace Emulator

// Mapping PE32 and PE32+ images (see image.h), their fields read through
// the table pe_layout.h holds to winnt.h.
#include "emulator/image.h"

#include "emulator/layout.h"
#include "emulator/pe_layout.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace Emulator {
namespace {

struct Pe {
    PE_LAYOUT(LAYOUT_U64)
    const char* name;
};
constexpr Pe Pe32 = {PE_LAYOUT(LAYOUT_VALUE_I386) "PE32 i386"};
constexpr Pe Pe32Plus = {PE_LAYOUT(LAYOUT_VALUE_X64) "PE32+ x86-64"};

const Pe& peOf(const Machine& machine) { return machine.bits == 64 ? Pe32Plus : Pe32; }

constexpr uint64_t PageSize = 0x1000;
constexpr size_t MaxFile = 1 << 20;

uint8_t file[MaxFile];

uint64_t fileValue(uint64_t at, size_t size)
{
    uint64_t value = 0;
    for (size_t i = size; i > 0; --i) {
        value = value << 8 | file[at + i - 1];
    }
    return value;
}

uint16_t file16(uint64_t at) { return static_cast<uint16_t>(fileValue(at, 2)); }

uint32_t file32(uint64_t at) { return static_cast<uint32_t>(fileValue(at, 4)); }

uint64_t pages(uint64_t size) { return (size + PageSize - 1) & ~(PageSize - 1); }

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

// The offset of the PE headers, or 0 when the file has none. The widths'
// headers share what is read here; the larger size is asked for.
uint64_t peOffset(size_t size)
{
    const Pe& pe = Pe32Plus;
    if (size < pe.DosHeaderSize || file16(pe.DosSignature) != pe.DosMagic) {
        return 0;
    }
    const uint64_t offset = file32(pe.DosNewHeader);
    return offset + pe.NtHeadersSize <= size && file32(offset) == pe.NtMagic ? offset : 0;
}

bool relocate(Machine& machine, const Image& image, const char* path, Error& error)
{
    const Pe& pe = peOf(machine);
    const Range relocations = directory(machine, image, Directory::RelocationTable);
    const uint64_t delta = image.base - image.preferred;
    if (relocations.begin == 0) {
        return fail(error, "%s: cannot be moved: it has no relocations", path);
    }
    for (uint64_t block = relocations.begin; block + pe.RelocationHeaderSize <= relocations.end;) {
        const uint32_t page = guest32(machine, image.base + block + pe.RelocationPage);
        const uint32_t size = guest32(machine, image.base + block + pe.RelocationBlockSize);
        if (size < pe.RelocationHeaderSize || block + size > relocations.end) {
            return fail(error, "%s: relocation block at 0x%llx out of bounds", path, static_cast<unsigned long long>(block));
        }
        for (uint64_t entry = block + pe.RelocationHeaderSize; entry + 2 <= block + size; entry += 2) {
            const uint16_t value = guest16(machine, image.base + entry);
            const uint64_t at = image.base + page + (value & 0xFFFu);
            const unsigned type = value >> 12;
            if (type == pe.PointerRelocation) {
                putPointer(machine, at, guestPointer(machine, at) + delta);
            } else if (type != pe.RelocationPadding) {
                return fail(error, "%s: relocation of type %u", path, type);
            }
        }
        block += size;
    }
    return true;
}

Range directoryAt(Machine& machine, const Image& image, uint64_t index)
{
    const Pe& pe = peOf(machine);
    const uint64_t optional = image.base + guest32(machine, image.base + pe.DosNewHeader) + pe.NtOptionalHeader;
    const uint64_t entry = optional + pe.OptionalDirectories + pe.DirectoryEntrySize * index;
    const uint32_t address = guest32(machine, entry + pe.DirectoryAddress);
    return {address, static_cast<uint64_t>(address) + guest32(machine, entry + pe.DirectorySize)};
}

// The sections the image may write: all writable ones but those the system
// writes for it (the import table with its slots, the resources).
void findWritable(Machine& machine, Image& image, uint64_t table, uint16_t sections)
{
    const Pe& pe = peOf(machine);
    const Range systems[] = {directoryAt(machine, image, pe.ImportDirectory),
                             directoryAt(machine, image, pe.ResourceDirectory),
                             directoryAt(machine, image, pe.ImportSlotDirectory)};
    for (uint16_t i = 0; i < sections; ++i) {
        const uint64_t section = table + pe.SectionHeaderSize * i;
        const uint64_t address = file32(section + pe.SectionAddress);
        const uint64_t end = address + file32(section + pe.SectionVirtualSize);
        bool system = false;
        for (const Range& range : systems) {
            system = system || (range.begin != 0 && range.begin < end && range.end > address);
        }
        if ((file32(section + pe.SectionFlags) & pe.SectionWrite) != 0 && !system) {
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
    const uint16_t machine = file16(peOffset(size) + Pe32.NtFileHeader + Pe32.FileMachine);
    return machine == Pe32.Machine ? 32 : machine == Pe32Plus.Machine ? 64 : 0;
}

bool mapImage(Machine& machine, const char* path, ImageKind kind, uint64_t base, Image& image, Error& error)
{
    image = Image{};
    const char* slash = std::strrchr(path, '/');
    std::snprintf(image.name, sizeof image.name, "%s", slash != nullptr ? slash + 1 : path);
    size_t size = 0;
    if (!readFile(path, &size, error)) {
        return false;
    }
    const uint64_t nt = peOffset(size);
    if (nt == 0) {
        return fail(error, "%s: not a PE file", path);
    }
    const Pe& pe = peOf(machine);
    const uint64_t header = nt + pe.NtFileHeader, optional = nt + pe.NtOptionalHeader;
    if (file16(header + pe.FileMachine) != pe.Machine || file16(optional + pe.OptionalMagic) != pe.OptionalMagicValue) {
        return fail(error, "%s: not a %s image (machine 0x%x, optional header 0x%x)", path, pe.name,
                    file16(header + pe.FileMachine), file16(optional + pe.OptionalMagic));
    }
    const uint16_t subsystem = file16(optional + pe.OptionalSubsystem);
    const bool dll = (file16(header + pe.FileCharacteristics) & pe.DllFlag) != 0;
    if (kind == ImageKind::Dll && !dll) {
        return fail(error, "%s: not a DLL", path);
    }
    if (kind == ImageKind::Program && dll) {
        return fail(error, "%s: a DLL, not a program", path);
    }
    if (kind == ImageKind::Driver && (dll || subsystem != pe.NativeSubsystem)) {
        return fail(error, "%s: not a driver (%s, subsystem %u)", path, dll ? "a DLL" : "a program", subsystem);
    }
    const uint16_t sections = file16(header + pe.FileSections);
    const uint64_t table = optional + file16(header + pe.FileOptionalSize);
    image.preferred = fileValue(optional + pe.OptionalImageBase, machine.width->pointer);
    image.base = base != 0 ? base : image.preferred;
    image.size = pages(file32(optional + pe.OptionalImageSize));
    image.entry = file32(optional + pe.OptionalEntry);
    const uint32_t headersSize = file32(optional + pe.OptionalHeadersSize);
    if (sections > MaxSections || table + pe.SectionHeaderSize * sections > size || headersSize > size ||
        image.size == 0) {
        return fail(error, "%s: section table out of bounds", path);
    }
    if (uc_mem_map(machine.uc, image.base, image.size, UC_PROT_NONE) != UC_ERR_OK) {
        return fail(error, "%s: cannot map %llu bytes at 0x%llx", path, static_cast<unsigned long long>(image.size),
                    static_cast<unsigned long long>(image.base));
    }
    writeGuest(machine, image.base, file, headersSize);
    uc_mem_protect(machine.uc, image.base, pages(headersSize), UC_PROT_READ);
    for (uint16_t i = 0; i < sections; ++i) {
        const uint64_t section = table + pe.SectionHeaderSize * i;
        const uint32_t virtualSize = file32(section + pe.SectionVirtualSize);
        const uint32_t address = file32(section + pe.SectionAddress);
        const uint32_t rawSize = file32(section + pe.SectionRawSize), rawOffset = file32(section + pe.SectionRawOffset);
        const uint32_t flags = file32(section + pe.SectionFlags);
        if (address % PageSize != 0 || address + pages(virtualSize) > image.size ||
            static_cast<uint64_t>(rawOffset) + rawSize > size) {
            return fail(error, "%s: section %u out of bounds", path, i);
        }
        writeGuest(machine, image.base + address, file + rawOffset, rawSize < virtualSize ? rawSize : virtualSize);
        uint32_t protection = UC_PROT_READ;
        if ((flags & pe.SectionExecute) != 0) {
            protection |= UC_PROT_EXEC;
            image.code[image.codeCount++] = {image.base + address, image.base + address + virtualSize};
        }
        if ((flags & pe.SectionWrite) != 0) {
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

Range directory(Machine& machine, const Image& image, Directory which)
{
    const Pe& pe = peOf(machine);
    const uint64_t indices[] = {pe.ExportDirectory, pe.ImportDirectory, pe.RelocationDirectory};
    return directoryAt(machine, image, indices[static_cast<int>(which)]);
}

bool forEachImport(Machine& machine, const Image& image, bool (*visit)(void* context, const Import& import),
                   void* context, const char* path, Error& error)
{
    const Pe& pe = peOf(machine);
    const Range imports = directory(machine, image, Directory::ImportTable);
    const uint64_t entrySize = machine.width->pointer;
    if (imports.begin == 0) {
        return true;
    }
    for (uint64_t descriptor = image.base + imports.begin;; descriptor += pe.ImportDescriptorSize) {
        const uint32_t lookup = guest32(machine, descriptor + pe.ImportLookup);
        const uint32_t nameAt = guest32(machine, descriptor + pe.ImportLibrary);
        const uint32_t slots = guest32(machine, descriptor + pe.ImportSlots);
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
            const bool byOrdinal = (entry & pe.OrdinalFlag) != 0;
            if (!byOrdinal &&
                !guestText(machine, image.base + (entry & 0x7FFFFFFFu) + pe.ImportByNameName, function, sizeof function)) {
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
    const Pe& pe = peOf(machine);
    const Range exports = directory(machine, image, Directory::ExportTable);
    if (exports.begin == 0) {
        return 0;
    }
    const uint64_t table = image.base + exports.begin;
    const uint32_t names = guest32(machine, table + pe.ExportNameCount);
    const uint64_t functions = image.base + guest32(machine, table + pe.ExportFunctions);
    const uint64_t nameTable = image.base + guest32(machine, table + pe.ExportNames);
    const uint64_t ordinals = image.base + guest32(machine, table + pe.ExportOrdinals);
    for (uint32_t i = 0; i < names; ++i) {
        char exported[64];
        if (guestText(machine, image.base + guest32(machine, nameTable + 4 * i), exported, sizeof exported) &&
            std::strcmp(exported, name) == 0) {
            return image.base + guest32(machine, functions + 4 * guest16(machine, ordinals + 2 * i));
        }
    }
    return 0;
}

} // namespace Emulator

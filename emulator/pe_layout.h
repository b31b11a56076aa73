/*
 * Where a PE32 (i386) or PE32+ (x64) image keeps what the emulator's loader
 * reads of it, and the values it tells by: one table, held to mingw-w64's
 * winnt.h when the Windows builds compile pe_layout_check.c. Each row: a
 * name, what winnt.h calls it (an offset, a size or a constant), the i386
 * value, the x64 value. PE_MACHINE and PE_POINTER_RELOCATION are the width's
 * machine and the base relocation of a pointer (pe_layout_check.c names
 * winnt.h's constant).
 */
#ifndef ZQ4810_EMULATOR_PE_LAYOUT_H
#define ZQ4810_EMULATOR_PE_LAYOUT_H

#define PE_LAYOUT(ROW) \
    ROW(DosSignature, offsetof(IMAGE_DOS_HEADER, e_magic), 0x00, 0x00)                      \
    ROW(DosNewHeader, offsetof(IMAGE_DOS_HEADER, e_lfanew), 0x3C, 0x3C)                     \
    ROW(NtFileHeader, offsetof(IMAGE_NT_HEADERS, FileHeader), 4, 4)                         \
    ROW(NtOptionalHeader, offsetof(IMAGE_NT_HEADERS, OptionalHeader), 24, 24)               \
    ROW(FileMachine, offsetof(IMAGE_FILE_HEADER, Machine), 0, 0)                            \
    ROW(FileSections, offsetof(IMAGE_FILE_HEADER, NumberOfSections), 2, 2)                  \
    ROW(FileOptionalSize, offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader), 16, 16)        \
    ROW(FileCharacteristics, offsetof(IMAGE_FILE_HEADER, Characteristics), 18, 18)          \
    ROW(OptionalMagic, offsetof(IMAGE_OPTIONAL_HEADER, Magic), 0, 0)                        \
    ROW(OptionalEntry, offsetof(IMAGE_OPTIONAL_HEADER, AddressOfEntryPoint), 16, 16)        \
    ROW(OptionalImageBase, offsetof(IMAGE_OPTIONAL_HEADER, ImageBase), 28, 24)              \
    ROW(OptionalImageSize, offsetof(IMAGE_OPTIONAL_HEADER, SizeOfImage), 56, 56)            \
    ROW(OptionalHeadersSize, offsetof(IMAGE_OPTIONAL_HEADER, SizeOfHeaders), 60, 60)        \
    ROW(OptionalSubsystem, offsetof(IMAGE_OPTIONAL_HEADER, Subsystem), 68, 68)              \
    ROW(OptionalDirectories, offsetof(IMAGE_OPTIONAL_HEADER, DataDirectory), 96, 112)       \
    ROW(DirectoryAddress, offsetof(IMAGE_DATA_DIRECTORY, VirtualAddress), 0, 0)             \
    ROW(DirectorySize, offsetof(IMAGE_DATA_DIRECTORY, Size), 4, 4)                          \
    ROW(SectionVirtualSize, offsetof(IMAGE_SECTION_HEADER, Misc.VirtualSize), 8, 8)         \
    ROW(SectionAddress, offsetof(IMAGE_SECTION_HEADER, VirtualAddress), 12, 12)             \
    ROW(SectionRawSize, offsetof(IMAGE_SECTION_HEADER, SizeOfRawData), 16, 16)              \
    ROW(SectionRawOffset, offsetof(IMAGE_SECTION_HEADER, PointerToRawData), 20, 20)         \
    ROW(SectionFlags, offsetof(IMAGE_SECTION_HEADER, Characteristics), 36, 36)              \
    ROW(ImportLookup, offsetof(IMAGE_IMPORT_DESCRIPTOR, OriginalFirstThunk), 0, 0)          \
    ROW(ImportLibrary, offsetof(IMAGE_IMPORT_DESCRIPTOR, Name), 12, 12)                     \
    ROW(ImportSlots, offsetof(IMAGE_IMPORT_DESCRIPTOR, FirstThunk), 16, 16)                 \
    ROW(ImportByNameName, offsetof(IMAGE_IMPORT_BY_NAME, Name), 2, 2)                       \
    ROW(ExportNameCount, offsetof(IMAGE_EXPORT_DIRECTORY, NumberOfNames), 24, 24)           \
    ROW(ExportFunctions, offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfFunctions), 28, 28)      \
    ROW(ExportNames, offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNames), 32, 32)              \
    ROW(ExportOrdinals, offsetof(IMAGE_EXPORT_DIRECTORY, AddressOfNameOrdinals), 36, 36)    \
    ROW(RelocationPage, offsetof(IMAGE_BASE_RELOCATION, VirtualAddress), 0, 0)              \
    ROW(RelocationBlockSize, offsetof(IMAGE_BASE_RELOCATION, SizeOfBlock), 4, 4)            \
    ROW(DosHeaderSize, sizeof(IMAGE_DOS_HEADER), 0x40, 0x40)                                \
    ROW(NtHeadersSize, sizeof(IMAGE_NT_HEADERS), 0xF8, 0x108)                               \
    ROW(DirectoryEntrySize, sizeof(IMAGE_DATA_DIRECTORY), 8, 8)                             \
    ROW(SectionHeaderSize, sizeof(IMAGE_SECTION_HEADER), 40, 40)                            \
    ROW(ImportDescriptorSize, sizeof(IMAGE_IMPORT_DESCRIPTOR), 20, 20)                      \
    ROW(RelocationHeaderSize, sizeof(IMAGE_BASE_RELOCATION), 8, 8)                          \
    ROW(DosMagic, IMAGE_DOS_SIGNATURE, 0x5A4D, 0x5A4D)                                      \
    ROW(NtMagic, IMAGE_NT_SIGNATURE, 0x4550, 0x4550)                                        \
    ROW(Machine, PE_MACHINE, 0x14C, 0x8664)                                                 \
    ROW(OptionalMagicValue, IMAGE_NT_OPTIONAL_HDR_MAGIC, 0x10B, 0x20B)                      \
    ROW(DllFlag, IMAGE_FILE_DLL, 0x2000, 0x2000)                                            \
    ROW(NativeSubsystem, IMAGE_SUBSYSTEM_NATIVE, 1, 1)                                      \
    ROW(SectionExecute, IMAGE_SCN_MEM_EXECUTE, 0x20000000, 0x20000000)                      \
    ROW(SectionWrite, IMAGE_SCN_MEM_WRITE, 0x80000000, 0x80000000)                          \
    ROW(ExportDirectory, IMAGE_DIRECTORY_ENTRY_EXPORT, 0, 0)                                \
    ROW(ImportDirectory, IMAGE_DIRECTORY_ENTRY_IMPORT, 1, 1)                                \
    ROW(ResourceDirectory, IMAGE_DIRECTORY_ENTRY_RESOURCE, 2, 2)                            \
    ROW(RelocationDirectory, IMAGE_DIRECTORY_ENTRY_BASERELOC, 5, 5)                         \
    ROW(ImportSlotDirectory, IMAGE_DIRECTORY_ENTRY_IAT, 12, 12)                             \
    ROW(OrdinalFlag, IMAGE_ORDINAL_FLAG, 0x80000000u, 0x8000000000000000ull)                \
    ROW(RelocationPadding, IMAGE_REL_BASED_ABSOLUTE, 0, 0)                                  \
    ROW(PointerRelocation, PE_POINTER_RELOCATION, 3, 10)

#endif /* ZQ4810_EMULATOR_PE_LAYOUT_H */

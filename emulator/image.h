// A Windows image (PE32 i386 or PE32+ x86-64) mapped into an emulated
// machine as the system's loader maps it: headers, then each section at its
// address with the protection its characteristics ask for, relocated when it
// lies elsewhere than it asks; its imports and exports read from the mapped
// image.
#pragma once

#include "emulator/machine.h"

namespace Emulator {

constexpr size_t MaxSections = 32; // a program with its debug sections has about 20

// What the file must be.
enum class ImageKind { Dll, Program, Driver };

struct Image {
    char name[40] = ""; // the file's name, for the places a breach names
    uint64_t base = 0;
    uint64_t preferred = 0;
    uint64_t size = 0;
    uint32_t entry = 0; // relative to the base
    Range code[MaxSections] = {};
    size_t codeCount = 0;
    // The sections the image may write: all writable ones but those the
    // system writes for it (the import table with its slots, the resources).
    Range writable[MaxSections] = {};
    size_t writableCount = 0;
};

struct Error {
    char text[256] = "";
};
bool fail(Error& error, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The machine's width picks the format: PE32 i386 for 32 bits, PE32+ x86-64
// for 64. base 0 takes the base the image asks for. False with a one-line
// reason, naming the file, when the file is not what it must be.
bool mapImage(Machine& machine, const char* path, ImageKind kind, uint64_t base, Image& image, Error& error);

// The machine of the file, 32 or 64; 0 when it is not a PE image of either.
int imageBits(const char* path);

// The mapped image's directories, relative to its base.
enum class Directory { ExportTable, ImportTable, RelocationTable };
Range directory(Machine& machine, const Image& image, Directory which);

struct Import {
    const char* library;
    const char* name; // null when imported by ordinal
    uint16_t ordinal;
    uint64_t slot;    // the import address table's slot
};
// Calls visit for every import; stops at the first false it returns, or at
// an unreadable entry (false, with the reason).
bool forEachImport(Machine& machine, const Image& image, bool (*visit)(void* context, const Import& import),
                   void* context, const char* path, Error& error);

// The address of the export of this name, or 0.
uint64_t findExport(Machine& machine, const Image& image, const char* name);

} // namespace Emulator

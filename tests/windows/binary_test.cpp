// The shipped DLL itself, read from its own PE headers as Windows loads it:
// what it exports and by which ordinals, what it imports, that nothing of it
// runs on load; and, for the 32-bit DLL, that every export removes its own
// arguments, for the 64-bit one, that every export can be unwound.
#include "tests/windows/harness.h"
#include "zq4810/export_table.h"

#include "tests/support.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Export {
    const char* name;
    WORD ordinal;
    int arguments; // 32-bit arguments the function removes from the stack (32-bit DLL)
};

// From the one list of the exports, api/2KZQ4810.def.
#define ZQ4810_EXPORT_ROW(name, ordinal, arguments) {name, ordinal, arguments},
constexpr Export exports[] = {ZQ4810_EXPORTS(ZQ4810_EXPORT_ROW)};
#undef ZQ4810_EXPORT_ROW

using Table = std::set<std::pair<std::string, WORD>>;

Table expectedExports()
{
    Table table;
    for (const Export& entry : exports) {
        table.insert({entry.name, entry.ordinal});
    }
    return table;
}

const IMAGE_EXPORT_DIRECTORY* exportDirectory()
{
    const IMAGE_DATA_DIRECTORY& directory = Harness::ntHeaders()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    return directory.VirtualAddress == 0 ? nullptr : Harness::at<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress);
}

TEST(DllBinary, ExportsExactlyTheElevenNamesAtTheirOrdinals)
{
    const IMAGE_EXPORT_DIRECTORY* directory = exportDirectory();
    ASSERT_NE(directory, nullptr);
    EXPECT_STREQ(Harness::at<char>(directory->Name), "2KZQ4810.dll");
    EXPECT_EQ(directory->Base, 1u);
    EXPECT_EQ(directory->NumberOfFunctions, 11u);
    ASSERT_EQ(directory->NumberOfNames, 11u);

    const DWORD* names = Harness::at<DWORD>(directory->AddressOfNames);
    const WORD* indexes = Harness::at<WORD>(directory->AddressOfNameOrdinals);
    Table found;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        found.insert({Harness::at<char>(names[i]), static_cast<WORD>(indexes[i] + directory->Base)});
    }
    EXPECT_EQ(found, expectedExports());
}

TEST(DllBinary, NameAndOrdinalResolveToTheSameFunction)
{
    const IMAGE_EXPORT_DIRECTORY* directory = exportDirectory();
    ASSERT_NE(directory, nullptr);
    const DWORD* functions = Harness::at<DWORD>(directory->AddressOfFunctions);
    for (const Export& entry : exports) {
        SCOPED_TRACE(entry.name);
        const FARPROC byName = GetProcAddress(Harness::dll(), entry.name);
        const FARPROC byOrdinal = GetProcAddress(Harness::dll(), MAKEINTRESOURCEA(entry.ordinal));
        ASSERT_NE(byName, nullptr);
        EXPECT_EQ(byName, byOrdinal);
        EXPECT_EQ(reinterpret_cast<const void*>(byName),
                  reinterpret_cast<const void*>(Harness::at<BYTE>(functions[entry.ordinal - directory->Base])));
    }
    // No decorated duplicates, nothing beyond the last ordinal.
    EXPECT_EQ(GetProcAddress(Harness::dll(), "AZQ4810READPOSITION@4"), nullptr);
    EXPECT_EQ(GetProcAddress(Harness::dll(), "_AZQ4810READPOSITION@4"), nullptr);
    EXPECT_EQ(GetProcAddress(Harness::dll(), MAKEINTRESOURCEA(12)), nullptr);
}

TEST(DllBinary, ImportsExactlyTheNineSystemFunctions)
{
    const IMAGE_DATA_DIRECTORY& directory = Harness::ntHeaders()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    std::set<std::string> found;
    for (const auto* library = Harness::at<IMAGE_IMPORT_DESCRIPTOR>(directory.VirtualAddress); library->Name != 0;
         ++library) {
        std::string dll = Harness::at<char>(library->Name);
        for (char& c : dll) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        for (const auto* lookup = Harness::at<IMAGE_THUNK_DATA>(library->OriginalFirstThunk);
             lookup->u1.AddressOfData != 0; ++lookup) {
            ASSERT_EQ(lookup->u1.Ordinal & IMAGE_ORDINAL_FLAG, 0u) << dll << " imported by ordinal";
            const auto* byName = Harness::at<IMAGE_IMPORT_BY_NAME>(static_cast<DWORD>(lookup->u1.AddressOfData));
            found.insert(dll + "!" + reinterpret_cast<const char*>(byName->Name));
        }
    }
    const std::set<std::string> expected = {
        "kernel32.dll!CreateFileA",      "kernel32.dll!DeviceIoControl", "kernel32.dll!CloseHandle",
        "advapi32.dll!RegCreateKeyExA",  "advapi32.dll!RegOpenKeyExA",   "advapi32.dll!RegSetValueExA",
        "advapi32.dll!RegDeleteKeyA",    "advapi32.dll!RegCloseKey",     "user32.dll!MessageBoxA",
    };
    EXPECT_EQ(found, expected);
}

// The image of the width built, asking for no more than the first Windows
// that ran programs of that width: NT 4.0, and for x64 Windows 5.2.
#ifdef _WIN64
constexpr WORD ImageMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD ImageMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
constexpr WORD OldestWindows[2] = {5, 2};
#else
constexpr WORD ImageMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD ImageMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
constexpr WORD OldestWindows[2] = {4, 0};
#endif

TEST(DllBinary, NothingRunsOnLoadAndTheOldestWindowsOfItsWidthIsEnough)
{
    const IMAGE_NT_HEADERS* headers = Harness::ntHeaders();
    EXPECT_EQ(headers->FileHeader.Machine, ImageMachine);
    EXPECT_NE(headers->FileHeader.Characteristics & IMAGE_FILE_DLL, 0);
    EXPECT_EQ(headers->OptionalHeader.Magic, ImageMagic);
    EXPECT_EQ(headers->OptionalHeader.AddressOfEntryPoint, 0u);
    EXPECT_EQ(headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].VirtualAddress, 0u);
    EXPECT_EQ(headers->OptionalHeader.MajorOperatingSystemVersion, OldestWindows[0]);
    EXPECT_EQ(headers->OptionalHeader.MinorOperatingSystemVersion, OldestWindows[1]);
    EXPECT_EQ(headers->OptionalHeader.MajorSubsystemVersion, OldestWindows[0]);
    EXPECT_EQ(headers->OptionalHeader.MinorSubsystemVersion, OldestWindows[1]);
}

std::string versionText(const std::vector<BYTE>& info, const char* name)
{
    void* text = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), query.c_str(), &text, &length) || text == nullptr) {
        return "(missing)";
    }
    return static_cast<const char*>(text);
}

TEST(DllBinary, CarriesItsVersionResource)
{
    char path[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(Harness::dll(), path, sizeof path), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_NE(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

    void* block = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &block, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);

    EXPECT_EQ(versionText(info, "OriginalFilename"), "2KZQ4810.dll");
    EXPECT_EQ(versionText(info, "InternalName"), "2KZQ4810.dll");
    EXPECT_EQ(versionText(info, "CompanyName"), "");
    EXPECT_NE(versionText(info, "FileDescription"), "(missing)");
    EXPECT_NE(versionText(info, "FileVersion"), "(missing)");
    EXPECT_NE(versionText(info, "ProductVersion"), "(missing)");
}

#ifdef __i386__
// Calls function with count zero arguments pushed and tells by how many
// bytes the stack pointer moved across the call: 0 when the function removed
// exactly its own arguments, as the standard calling convention requires.
int stackDrift(FARPROC function, int count)
{
    int drift;
    __asm__ volatile("movl %%esp, %%esi\n"
                     "1:\n\t"
                     "testl %%ecx, %%ecx\n\t"
                     "jz 2f\n\t"
                     "pushl $0\n\t"
                     "decl %%ecx\n\t"
                     "jmp 1b\n"
                     "2:\n\t"
                     "call *%[function]\n\t"
                     "movl %%esp, %%eax\n\t"
                     "subl %%esi, %%eax\n\t"
                     "movl %%esi, %%esp"
                     : "=a"(drift), "+c"(count)
                     : [function] "r"(function)
                     : "edx", "esi", "memory", "cc");
    return drift;
}

using DllCallingConvention = LibraryTest;

TEST_F(DllCallingConvention, EveryExportRemovesItsOwnArguments)
{
    for (const Export& entry : exports) {
        SCOPED_TRACE(entry.name);
        const FARPROC function = GetProcAddress(Harness::dll(), entry.name);
        ASSERT_NE(function, nullptr);
        EXPECT_EQ(stackDrift(function, entry.arguments), 0);
    }
}
#else
// x64 has one calling convention, in which the caller removes the
// arguments, so there is no balance to check. What an x64 function must
// have instead is its entry in the exception directory: without one,
// nothing can walk the stack back through it, and a debugger, a crash dump
// or an exception raised below it in a system call loses the caller. A
// build that dropped the unwind tables (as the 32-bit one does) would still
// load and run.
TEST(DllCallingConvention, EveryExportCanBeUnwound)
{
    const IMAGE_DATA_DIRECTORY& directory = Harness::ntHeaders()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    ASSERT_NE(directory.VirtualAddress, 0u);
    for (const Export& entry : exports) {
        SCOPED_TRACE(entry.name);
        const FARPROC function = GetProcAddress(Harness::dll(), entry.name);
        ASSERT_NE(function, nullptr);
        DWORD64 base = 0;
        const auto address = reinterpret_cast<DWORD64>(function);
        const PRUNTIME_FUNCTION unwind = RtlLookupFunctionEntry(address, &base, nullptr);
        ASSERT_NE(unwind, nullptr);
        EXPECT_EQ(base, reinterpret_cast<DWORD64>(Harness::dll()));
        EXPECT_EQ(base + unwind->BeginAddress, address);
    }
}
#endif

} // namespace

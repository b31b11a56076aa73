// The shipped DLL's own headers, read from the image the loader mapped, as
// Windows would read them: what it exports and at which ordinals, what it
// imports, that nothing of it runs on load, and its version resource. And
// that every export removes its own arguments (the loader checks that on
// every call; here each export is called once on purpose).
#include "emulator/loader.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace {

uint32_t u32(uint32_t rva)
{
    uint32_t value = 0;
    Emulator::readGuest(Emulator::imageBase() + rva, &value, 4);
    return value;
}

uint16_t u16(uint32_t rva)
{
    uint16_t value = 0;
    Emulator::readGuest(Emulator::imageBase() + rva, &value, 2);
    return value;
}

std::string text(uint32_t rva)
{
    std::string out;
    char c = 0;
    while (out.size() < 256 && Emulator::readGuest(Emulator::imageBase() + rva + static_cast<uint32_t>(out.size()), &c, 1) && c != '\0') {
        out += c;
    }
    return out;
}

uint32_t ntHeaders()
{
    return u32(0x3C);
}

uint32_t optionalHeader()
{
    return ntHeaders() + 24;
}

uint32_t directory(int n)
{
    return u32(optionalHeader() + 96 + 8 * static_cast<uint32_t>(n));
}

using Table = std::set<std::pair<std::string, uint32_t>>;

TEST(DllBinary, ExportsExactlyTheElevenNamesAtTheirOrdinals)
{
    const uint32_t table = directory(0);
    ASSERT_NE(table, 0u);
    EXPECT_EQ(text(u32(table + 12)), "2KZQ4810.dll");
    const uint32_t base = u32(table + 16);
    EXPECT_EQ(base, 1u);
    EXPECT_EQ(u32(table + 20), 11u);
    ASSERT_EQ(u32(table + 24), 11u);
    Table found, expected;
    for (uint32_t i = 0; i < 11; ++i) {
        found.insert({text(u32(u32(table + 32) + 4 * i)), u16(u32(table + 36) + 2 * i) + base});
        expected.insert({Emulator::Exports[i].name, static_cast<uint32_t>(Emulator::Exports[i].ordinal)});
    }
    EXPECT_EQ(found, expected);
}

TEST(DllBinary, NameAndOrdinalResolveToTheSameFunction)
{
    const uint32_t table = directory(0);
    ASSERT_NE(table, 0u);
    for (int i = 0; i < Emulator::ExportCount; ++i) {
        SCOPED_TRACE(Emulator::Exports[i].name);
        const uint32_t byOrdinal = u32(u32(table + 28) + 4 * static_cast<uint32_t>(i));
        EXPECT_EQ(Emulator::imageBase() + byOrdinal, Emulator::exportAddress(i));
        // Every function lies in the code, not forwarded elsewhere.
        EXPECT_FALSE(byOrdinal >= table && byOrdinal < table + u32(optionalHeader() + 100));
    }
}

TEST(DllBinary, ImportsExactlyTheNineSystemFunctions)
{
    std::set<std::string> found;
    for (uint32_t descriptor = directory(1); u32(descriptor + 12) != 0; descriptor += 20) {
        std::string library = text(u32(descriptor + 12));
        for (char& c : library) {
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        for (uint32_t entry = u32(descriptor); u32(entry) != 0; entry += 4) {
            ASSERT_EQ(u32(entry) & 0x80000000u, 0u) << library << " imported by ordinal";
            found.insert(library + "!" + text(u32(entry) + 2));
        }
    }
    const std::set<std::string> expected = {
        "kernel32.dll!CreateFileA",     "kernel32.dll!DeviceIoControl", "kernel32.dll!CloseHandle",
        "advapi32.dll!RegCreateKeyExA", "advapi32.dll!RegOpenKeyExA",   "advapi32.dll!RegSetValueExA",
        "advapi32.dll!RegDeleteKeyA",   "advapi32.dll!RegCloseKey",     "user32.dll!MessageBoxA",
    };
    EXPECT_EQ(found, expected);
}

TEST(DllBinary, NothingRunsOnLoadAndTheOldestWindowsOfItsWidthIsEnough)
{
    const uint32_t file = ntHeaders() + 4, optional = optionalHeader();
    EXPECT_EQ(u16(file), 0x14C);                 // i386
    EXPECT_NE(u16(file + 18) & 0x2000, 0);      // a DLL
    EXPECT_EQ(u16(optional), 0x10B);            // PE32
    EXPECT_EQ(u32(optional + 16), 0u);          // no entry point
    EXPECT_EQ(directory(9), 0u);                // no thread-local callbacks
    EXPECT_EQ(u16(optional + 40), 4);           // operating system 4.0
    EXPECT_EQ(u16(optional + 42), 0);
    EXPECT_EQ(u16(optional + 48), 4);           // subsystem 4.0
    EXPECT_EQ(u16(optional + 50), 0);
}

// The resource directory's entry with this id below the directory at rva
// (relative to the resource section), or 0.
uint32_t resourceEntry(uint32_t resources, uint32_t at, uint32_t id)
{
    const uint32_t entries = u16(resources + at + 12) + u16(resources + at + 14);
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t entry = resources + at + 16 + 8 * i;
        if (id == 0 || u32(entry) == id) {
            return u32(entry + 4);
        }
    }
    return 0;
}

// A version resource's node: length, value length, type, UTF-16 key, value
// and children, each aligned to 4 bytes.
struct VersionNode {
    uint32_t at, length, valueLength;
    std::string key;
    uint32_t value, children;
};

VersionNode versionNode(uint32_t at)
{
    VersionNode node{at, u16(at), u16(at + 2), "", 0, 0};
    uint32_t cursor = at + 6;
    for (uint16_t c = u16(cursor); c != 0 && node.key.size() < 64; c = u16(cursor)) {
        node.key += static_cast<char>(c);
        cursor += 2;
    }
    node.value = (cursor + 2 + 3) & ~3u;
    node.children = (node.value + node.valueLength * (u16(at + 4) == 1 ? 2u : 1u) + 3) & ~3u;
    return node;
}

std::string versionText(uint32_t root, const std::string& name)
{
    const VersionNode info = versionNode(root);
    for (uint32_t child = info.children; child < root + info.length;) {
        const VersionNode block = versionNode(child);
        if (block.length == 0) {
            break;
        }
        if (block.key == "StringFileInfo") {
            const VersionNode strings = versionNode(block.children); // the one language: 040904B0
            EXPECT_EQ(strings.key, "040904B0");
            for (uint32_t entry = strings.children; entry < strings.at + strings.length;) {
                const VersionNode value = versionNode(entry);
                if (value.length == 0) {
                    break;
                }
                if (value.key == name) {
                    std::string out;
                    for (uint32_t c = value.value; u16(c) != 0 && out.size() < 128; c += 2) {
                        out += static_cast<char>(u16(c));
                    }
                    return out;
                }
                entry = (entry + value.length + 3) & ~3u;
            }
        }
        child = (child + block.length + 3) & ~3u;
    }
    return "(missing)";
}

TEST(DllBinary, CarriesItsVersionResource)
{
    const uint32_t resources = directory(2);
    ASSERT_NE(resources, 0u);
    const uint32_t type = resourceEntry(resources, 0, 16); // RT_VERSION
    ASSERT_NE(type & 0x80000000u, 0u);
    const uint32_t name = resourceEntry(resources, type & 0x7FFFFFFFu, 0);
    ASSERT_NE(name & 0x80000000u, 0u);
    const uint32_t language = resourceEntry(resources, name & 0x7FFFFFFFu, 0);
    ASSERT_EQ(language & 0x80000000u, 0u);
    const uint32_t root = u32(resources + language);

    const VersionNode info = versionNode(root);
    EXPECT_EQ(info.key, "VS_VERSION_INFO");
    ASSERT_EQ(info.valueLength, 52u);
    EXPECT_EQ(u32(info.value), 0xFEEF04BDu);         // the fixed part's signature
    EXPECT_EQ(u32(info.value + 36), 2u);             // VFT_DLL
    EXPECT_EQ(u32(info.value + 8), u32(info.value + 16)); // file and product version alike

    for (const char* key : {"OriginalFilename", "InternalName"}) {
        EXPECT_EQ(versionText(root, key), "2KZQ4810.dll") << key;
    }
    EXPECT_EQ(versionText(root, "CompanyName"), "");
    for (const char* key : {"FileDescription", "FileVersion", "ProductVersion"}) {
        EXPECT_NE(versionText(root, key), "(missing)") << key;
    }
}

using DllCallingConvention = LibraryTest;

// The loader fails any call whose export removes more or less than its own
// arguments or does not keep the caller's registers; here each export is
// called once with arguments of zero.
TEST_F(DllCallingConvention, EveryExportRemovesItsOwnArguments)
{
    const int32_t zeros[2] = {0, 0};
    for (int i = 0; i < Emulator::ExportCount; ++i) {
        SCOPED_TRACE(Emulator::Exports[i].name);
        Emulator::call(i, zeros, Emulator::Exports[i].arguments);
        EXPECT_STREQ(Emulator::breach(), "");
    }
}

} // namespace

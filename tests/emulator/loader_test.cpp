// The loader's own checks: a faulty DLL must be caught, not run on. Each case
// changes the shipped image as a faulty build would have it, or a copy of
// the file as a wrong build would leave it, and expects the loader's one-line
// reason. The real DLL is loaded again after each.
#include "emulator/loader.h"
#include "tests/emulator/wrong_file.h"
#include "tests/support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace EmulatedSuite {
const char* dllPath();
}

namespace {

class LoaderTest : public LibraryTest {
protected:
    void TearDown() override
    {
        ASSERT_TRUE(Emulator::load(EmulatedSuite::dllPath())) << Emulator::error();
        LibraryTest::TearDown();
    }
};

void put32(std::vector<uint8_t>& code, uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        code.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

struct Fault {
    const char* what;
    std::vector<uint8_t> code; // placed at AZQ4810CLOSE's entry
    Emulator::Rule rule;       // the one the loader must see broken
};

TEST_F(LoaderTest, CatchesWhatAFaultyDllDoes)
{
    using Emulator::Rule;
    constexpr int Close = 8;
    const uint32_t base = static_cast<uint32_t>(Emulator::imageBase());
    std::vector<uint8_t> strayWrite = {0xC7, 0x05}; // mov dword [base+0x1000], 1; ret
    put32(strayWrite, base + 0x1000);
    put32(strayWrite, 1);
    strayWrite.push_back(0xC3);
    std::vector<uint8_t> slotWrite = {0xC7, 0x05}; // mov dword [CreateFileA's import slot], 0; ret
    put32(slotWrite, static_cast<uint32_t>(Emulator::importSlot("CreateFileA")));
    put32(slotWrite, 0);
    slotWrite.push_back(0xC3);
    std::vector<uint8_t> badString = {0x6A, 0x00, 0x68}; // MessageBoxA(0, 0x70000000, 0x70000000, 0)
    put32(badString, 0x70000000);
    badString.push_back(0x68);
    put32(badString, 0x70000000);
    badString.insert(badString.end(), {0x6A, 0x00, 0xFF, 0x15});
    put32(badString, static_cast<uint32_t>(Emulator::importSlot("MessageBoxA")));
    badString.push_back(0xC3);

    const Fault faults[] = {
        {"writes its own code", strayWrite, Rule::StrayWrite},
        {"overwrites an import slot, which lies in a writable section", slotWrite, Rule::StrayWrite},
        {"jumps out of the image", {0xB8, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xE0}, Rule::CodeOutside},
        {"removes an argument it was not given", {0xC2, 0x04, 0x00}, Rule::StackBalance},
        {"leaves an argument behind", {0x58, 0x50, 0x50, 0xC3}, Rule::StackBalance},
        {"changes ebx", {0xBB, 0x05, 0x00, 0x00, 0x00, 0xC3}, Rule::KeptRegisters},
        {"breaks into a debugger", {0xCC}, Rule::Interrupt},
        {"hands the system a bad string", badString, Rule::SystemArgument},
        {"reads memory it does not have", {0xA1, 0x00, 0x00, 0x00, 0x70, 0xC3}, Rule::UnmappedAccess},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        ASSERT_TRUE(Emulator::load(EmulatedSuite::dllPath())) << Emulator::error();
        ASSERT_TRUE(Emulator::patch(Emulator::exportAddress(Close), fault.code.data(), fault.code.size()));
        Emulator::call(Close, nullptr, 0);
        EXPECT_STREQ(Emulator::ruleRow(Emulator::breachedRule()).name, Emulator::ruleRow(fault.rule).name)
            << Emulator::breach();
    }
}

// A board's start and a first setup, as trace, notices and results.
std::string startAndRegister()
{
    const int mask = AZQ4810INITIALIZE();
    const int position = AZQ4810READPOSITION(2);
    const int first = AZQ4810CHECKIFDRIVER();
    const int closed = AZQ4810CLOSE();
    std::string all = std::to_string(mask) + " " + std::to_string(position) + " " + std::to_string(first) + " " +
                      std::to_string(closed) + " " + Sim::trace();
    for (const std::string& notice : TestSupport::notices()) {
        all += " | " + notice;
    }
    return all;
}

TEST_F(LoaderTest, MovedImageRunsAlike)
{
    const std::string atItsBase = startAndRegister();
    ASSERT_FALSE(Emulator::relocated());
    LibraryTest::SetUp();
    ASSERT_TRUE(Emulator::load(EmulatedSuite::dllPath(), 0x20000000)) << Emulator::error();
    EXPECT_TRUE(Emulator::relocated());
    EXPECT_EQ(Emulator::imageBase(), 0x20000000u);
    EXPECT_EQ(startAndRegister(), atItsBase);
    // started, the self-test pattern read back, a first setup, closed
    EXPECT_EQ(atItsBase.rfind("0 -2468078 1 0 w8=00 ", 0), 0u) << atItsBase;
}

TEST_F(LoaderTest, RefusesAWrongFileInOneLine)
{
    const WrongFile::Case cases[] = {
        {"not an executable", "MZ", "ZM", "not a PE file"},
        {"an x64 machine with a 32-bit header", std::string("PE\0\0\x4c\x01", 6), std::string("PE\0\0\x64\x86", 6),
         "not a PE32+ x86-64 image (machine 0x8664, optional header 0x10b)"},
        {"a tenth import", "MessageBoxA", "MessageBoxW", "imports USER32.dll!MessageBoxW, which this process does not have"},
        {"an export missing", "AZQ4810CLOSE", "AZQ4810CLOSX", "does not export AZQ4810CLOSE"},
    };
    for (const WrongFile::Case& wrong : cases) {
        WrongFile::expectRefused(
            EmulatedSuite::dllPath(), wrong, [](const char* path) { return Emulator::load(path); }, Emulator::error);
    }
}

} // namespace

namespace {

// The C application linked with clang and lld-link through 2KZQ4810.lib, the
// import library for MSVC's tools: it has no C runtime and imports from the
// DLL alone, so it runs here, bound to the DLL as Windows' loader binds it.
// It exits with the number of wrong answers it got.
TEST_F(LoaderTest, AProgramLinkedThroughTheMsvcImportLibraryRuns)
{
    const std::string program = std::string(ZQ4810_EMULATED_BIN) + "/zq4810_client_msvc.exe";
    int32_t exitCode = -1;
    ASSERT_TRUE(Emulator::runProgram(program.c_str(), &exitCode)) << Emulator::error();
    EXPECT_STREQ(Emulator::breach(), "");
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(std::string(Sim::trace()), ""); // it asks only what is refused before any port traffic
}

TEST_F(LoaderTest, AProgramWithOtherImportsIsRefusedInOneLine)
{
    const std::string program = std::string(ZQ4810_EMULATED_BIN) + "/zq4810_client_mingw.exe";
    int32_t exitCode = -1;
    EXPECT_FALSE(Emulator::runProgram(program.c_str(), &exitCode));
    EXPECT_NE(std::string(Emulator::error()).find("only a program that imports from the DLL alone runs here"),
              std::string::npos)
        << Emulator::error();
}

} // namespace

// The test suite on the shipped 2KZQ4810.dll, run in the emulator: the
// 32-bit DLL in 32-bit mode, or the 64-bit one (ZQ4810_DLL names it) in
// 64-bit mode. The DLL is loaded once, before any test; a DLL that cannot be
// loaded (not a PE32 i386 or PE32+ x86-64 DLL, a foreign import, a missing
// export) ends the program with one line. A DLL that was not built skips
// every test, saying so.
#include "emulator/loader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace EmulatedSuite {

const char* dllPath()
{
    const char* path = std::getenv("ZQ4810_DLL");
    return path != nullptr && path[0] != '\0' ? path : ZQ4810_EMULATED_DLL;
}

} // namespace EmulatedSuite

namespace Emulator {

// A call that broke a rule fails the test that made it.
void reportBreach(const char* breach)
{
    ADD_FAILURE() << breach;
}

} // namespace Emulator

namespace {

class NotBuilt : public testing::Environment {
public:
    void SetUp() override { GTEST_SKIP() << "not built: " << EmulatedSuite::dllPath(); }
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    struct stat file;
    if (stat(EmulatedSuite::dllPath(), &file) != 0) {
        testing::AddGlobalTestEnvironment(new NotBuilt);
    } else if (!testing::GTEST_FLAG(list_tests) && !Emulator::load(EmulatedSuite::dllPath())) {
        std::fprintf(stderr, "emulated suite: %s\n", Emulator::error());
        return 1;
    }
    return RUN_ALL_TESTS();
}

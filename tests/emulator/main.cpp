// The test suite on the shipped 2KZQ4810.dll, run in an i386 emulator. The
// DLL is loaded once, before any test; a DLL that cannot be loaded (not PE32
// i386, a foreign import, a missing export) ends the program with one line.
#include "emulator/loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!testing::GTEST_FLAG(list_tests) && !Emulator::load(EmulatedSuite::dllPath())) {
        std::fprintf(stderr, "emulated suite: %s\n", Emulator::error());
        return 1;
    }
    return RUN_ALL_TESTS();
}

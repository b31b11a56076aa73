// The Windows test program: the whole test suite, run on the real DLL. Before
// any test, the DLL's imports are pointed at the simulated platform.
#include "tests/windows/harness.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    const int changed = Harness::redirectImports();
    if (changed != 9) {
        std::fprintf(stderr, "could not redirect the imports of %s (%d of 9 changed)\n", Harness::DllName, changed);
        return 2;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

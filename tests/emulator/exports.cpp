// The eleven exports as the test suite (or a benchmark) calls them, each
// running the shipped DLL's own code in the emulator. A call that breaks a
// rule of the calling convention or of the DLL's memory is reported by the
// program that made it (a test fails; a benchmark stops).
#include "2KZQ4810/exports.h"

#include "emulator/loader.h"

#include <initializer_list>

namespace {

int32_t run(int ordinal, std::initializer_list<int32_t> arguments)
{
    const int32_t result = Emulator::call(ordinal - 1, arguments.begin(), static_cast<int>(arguments.size()));
    if (Emulator::breach()[0] != '\0') {
        Emulator::reportBreach(Emulator::breach());
    }
    return result;
}

} // namespace

extern "C" {

int AZQ4810CHECKIFDRIVER(void)
{
    return run(1, {});
}
int AZQ4810SETBASEADDRESS(int baseAddress)
{
    return run(2, {baseAddress});
}
int AZQ4810INITIALIZE(void)
{
    return run(3, {});
}
int AZQ4810READPOSITION(int axis)
{
    return run(4, {axis});
}
int AZQ4810RESETCOUNTER(int axis)
{
    return run(5, {axis});
}
int AZQ4810SETMULTIPLIER(int multiplier)
{
    return run(6, {multiplier});
}
int AZQ4810CHANGEMODE(int selector, int mode)
{
    return run(7, {selector, mode});
}
int AZQ4810PRWRITE(int axis, int value)
{
    return run(8, {axis, value});
}
int AZQ4810CLOSE(void)
{
    return run(9, {});
}
int AZQ4810DELETE(void)
{
    return run(10, {});
}
int AZQ4810DELETEALL(void)
{
    return run(11, {});
}

} // extern "C"
